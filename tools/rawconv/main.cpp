#include "ConvertOptions.h"
#include "RawConverter.h"
#include "Version.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

// A core application: the PNG is written by libpng, no display is needed.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QString program = QFileInfo(QCoreApplication::arguments().value(0)).fileName();

    rawconv::ConvertOptions options;
    QString error;
    if (!rawconv::ConvertOptions::parse(QCoreApplication::arguments().mid(1), options, error)) {
        err << program << ": " << error << "\n"
            << "Try " << program << " --help\n";
        return rawconv::RawConverter::BadInput;
    }
    if (options.help) {
        out << rawconv::ConvertOptions::usage(program);
        return rawconv::RawConverter::Ok;
    }
    if (options.version) {
        out << program << " " << STARSCAM_VERSION << "\n";
        return rawconv::RawConverter::Ok;
    }
    rawconv::RawConverter converter(options);
    return converter.run(out, err);
}
