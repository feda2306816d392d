#pragma once

#include "RawGeometry.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace rawconv {

// Everything the command line chooses, with the defaults a plain call gets.
struct ConvertOptions
{
    // The simulated camera's visible area; the real one reports its own.
    static constexpr int DefaultUlx = 14;
    static constexpr int DefaultUly = 4;
    static constexpr int DefaultLrx = 1550;
    static constexpr int DefaultLry = 1028;

    bool help = false;
    bool version = false; // print the version and stop
    bool png = false;
    bool fits = false;
    bool force = false;

    // --width/--height win over the size derived from binning and visible
    // area; those are then only recorded in the FITS header, if given.
    bool sizeGiven = false;
    int width = 0;
    int height = 0;
    bool binGiven = false;
    int hbin = 1;
    int vbin = 1;
    bool visibleGiven = false;
    int ulx = DefaultUlx;
    int uly = DefaultUly;
    int lrx = DefaultLrx;
    int lry = DefaultLry;

    double lowPercent = 0.5;
    double highPercent = 99.5;
    std::optional<double> exposureMs;

    QString suffix = QStringLiteral(".dat"); // what a directory's images end with
    QString outDir;                          // empty: next to each input
    QStringList inputs;                      // files and directories, in order

    // The geometry every input must have.
    RawGeometry geometry() const;

    // arguments without the program name. Options take their values as the
    // following words ("--bin 2 2"); one-value options also as "--low=1".
    // "--" ends the options. False with error set on anything unusable.
    static bool parse(const QStringList& arguments, ConvertOptions& options, QString& error);

    static QString usage(const QString& program);
};

} // namespace rawconv
