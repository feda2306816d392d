#include "Body.h"

#include <QtGlobal>

#include <vector>

// Every command the service serves, with the slot that answers it. The order
// is free; the protocol's command codes come from the words.
const Body::CommandRoute Body::commandRoutes[] = {
    {"IsBusy", &Body::AnsIsBusy},
    {"GetLibVer", &Body::AnsGetLibVer},
    {"GetModel", &Body::AnsGetModel},
    {"GetSerialSTR", &Body::AnsGetSerialSTR},
    {"GetHWRev", &Body::AnsGetHWRev},
    {"GetPixSize", &Body::AnsGetPixSize},
    {"GetArrayArea", &Body::AnsGetArrayArea},
    {"GetVisArea", &Body::AnsGetVisArea},
    {"SetTemp", &Body::AnsSetTemp},
    {"GetTemp", &Body::AnsGetTemp},
    {"GetCCDTemp", &Body::AnsGetCCDTemp},
    {"GetBaseTemp", &Body::AnsGetBaseTemp},
    {"GetCoolerPWR", &Body::AnsGetCoolerPWR},
    {"SetBin", &Body::AnsSetBin},
    {"GetBin", &Body::AnsGetBin},
    {"SetRBIFlushes", &Body::AnsSetRBIFlushes},
    {"GetRBIFlushes", &Body::AnsGetRBIFlushes},
    {"SetRBIExpTime", &Body::AnsSetRBIExpTime},
    {"GetRBIExpTime", &Body::AnsGetRBIExpTime},
    {"SetTDIRate", &Body::AnsSetTDIRate},
    {"GetTDIRate", &Body::AnsGetTDIRate},
    {"SetImages", &Body::AnsSetImages},
    {"GetImages", &Body::AnsGetImages},
    {"SetExpTime", &Body::AnsSetExpTime},
    {"GetExpTime", &Body::AnsGetExpTime},
    {"SetInterval", &Body::AnsSetInterval},
    {"GetInterval", &Body::AnsGetInterval},
    {"SetFileName", &Body::AnsSetFileName},
    {"GetFileName", &Body::AnsGetFileName},
    {"Exposure", &Body::AnsExposure},
    {"StartExposure", &Body::AnsStartExposure},
    {"RBIFlush", &Body::AnsRBIFlush},
    {"DownLoadImage", &Body::AnsDownLoadImage},
    {"SetSeqFileNo", &Body::AnsSetSeqFileNo},
    {"GetSeqFileNo", &Body::AnsGetSeqFileNo},
    {"SetUseSeqFNo", &Body::AnsSetUseSeqFNo},
    {"GetUseSeqFNo", &Body::AnsGetUseSeqFNo},
    {"Abort", &Body::AnsAbort},
    {"GetProgress", &Body::AnsGetProgress},
    {"GetLastFile", &Body::AnsGetLastFile},
    {"GetLastOutcome", &Body::AnsGetLastOutcome},
};

Body::Answer Body::answerFor(int commandCode)
{
    // Indexed by the code the parser gave the word, so a request costs no
    // second look-up of its word.
    static const std::vector<Answer> byCode = [] {
        std::vector<Answer> answers(SMsg::UnknownCommand, nullptr);
        for (const CommandRoute& route : commandRoutes) {
            SMsg probe;
            probe.command = QLatin1String(route.word);
            probe.LookUpCommandCode();
            if (probe.commandCode == SMsg::UnknownCommand)
                qFatal("Command %s is not in the protocol's command table", route.word);
            answers[size_t(probe.commandCode)] = route.answer;
        }
        return answers;
    }();
    if (commandCode < 0 || commandCode >= int(byCode.size()))
        return nullptr;
    return byCode[size_t(commandCode)];
}

void Body::answerCommand(const SMsg& msg)
{
    // Taken by reference from the client: the handler's own copy is the only one.
    if (const Answer answer = answerFor(msg.commandCode)) {
        (this->*answer)(msg);
        return;
    }
    reply(msg, QStringLiteral("Er: Undefined Command"));
}
