#include "Body.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Lives until the process ends: the service stops only through Body::Exit().
    new Body();
    return app.exec();
}
