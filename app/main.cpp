#include "Body.h"
#include "StopSignals.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Before Body: a stop asked for during start-up waits in the pipe.
    StopSignals stopSignals;
    // Lives until the process ends: the service stops only through Body's exits.
    Body* body = new Body();
    QObject::connect(&stopSignals, &StopSignals::stopRequested, body, &Body::Stop);
    return app.exec();
}
