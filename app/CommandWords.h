#pragma once

// Every command word the service serves, in the order of its code on the bus
// (IsBusy is 0). A command is one row here and its slot Body::Ans<Word>(SMsg):
// the dispatch table, the codes the parser gives and starsctl's completion
// are all made from this list.
#define STARSCAM_COMMAND_WORDS(X)                                                                                      \
    X(IsBusy)                                                                                                          \
    X(GetLibVer)                                                                                                       \
    X(GetModel)                                                                                                        \
    X(GetSerialSTR)                                                                                                    \
    X(GetHWRev)                                                                                                        \
    X(GetPixSize)                                                                                                      \
    X(GetArrayArea)                                                                                                    \
    X(GetVisArea)                                                                                                      \
    X(SetTemp)                                                                                                         \
    X(GetTemp)                                                                                                         \
    X(GetCCDTemp)                                                                                                      \
    X(GetBaseTemp)                                                                                                     \
    X(GetCoolerPWR)                                                                                                    \
    X(SetBin)                                                                                                          \
    X(GetBin)                                                                                                          \
    X(SetRBIFlushes)                                                                                                   \
    X(GetRBIFlushes)                                                                                                   \
    X(SetRBIExpTime)                                                                                                   \
    X(GetRBIExpTime)                                                                                                   \
    X(SetTDIRate)                                                                                                      \
    X(GetTDIRate)                                                                                                      \
    X(SetImages)                                                                                                       \
    X(GetImages)                                                                                                       \
    X(SetExpTime)                                                                                                      \
    X(GetExpTime)                                                                                                      \
    X(SetInterval)                                                                                                     \
    X(GetInterval)                                                                                                     \
    X(SetFileName)                                                                                                     \
    X(GetFileName)                                                                                                     \
    X(Exposure)                                                                                                        \
    X(StartExposure)                                                                                                   \
    X(RBIFlush)                                                                                                        \
    X(DownLoadImage)                                                                                                   \
    X(SetSeqFileNo)                                                                                                    \
    X(GetSeqFileNo)                                                                                                    \
    X(SetUseSeqFNo)                                                                                                    \
    X(GetUseSeqFNo)                                                                                                    \
    X(Abort)                                                                                                           \
    X(GetProgress)                                                                                                     \
    X(GetLastFile)                                                                                                     \
    X(GetLastOutcome)

#define STARSCAM_COMMAND_WORD_TEXT(word) #word,
// The words alone, for those that need no handlers.
inline constexpr const char* commandWords[] = {STARSCAM_COMMAND_WORDS(STARSCAM_COMMAND_WORD_TEXT)};
#undef STARSCAM_COMMAND_WORD_TEXT
inline constexpr int commandWordCount = int(sizeof(commandWords) / sizeof(commandWords[0]));
