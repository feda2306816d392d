#include "EchoNode.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    EchoNode node;
    if (!node.start())
        return 1;
    return app.exec();
}
