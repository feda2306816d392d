#include "Body.h"
#include "CommandWords.h"

// The slot of every command, row by row in the order of the words, so that a
// command's code on the bus is the index of its slot.
#define STARSCAM_COMMAND_ROUTE(word) &Body::Ans##word,
const Body::Answer Body::commandRoutes[] = {STARSCAM_COMMAND_WORDS(STARSCAM_COMMAND_ROUTE)};
#undef STARSCAM_COMMAND_ROUTE

void Body::useCommandTable()
{
    SMsg::setCommandTable(commandWords, commandWordCount);
}

Body::Answer Body::answerFor(int commandCode)
{
    return commandCode >= 0 && commandCode < commandWordCount ? commandRoutes[commandCode] : nullptr;
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
