#include "ConvertOptions.h"

#include <cmath>

namespace rawconv {

RawGeometry ConvertOptions::geometry() const
{
    if (sizeGiven)
        return RawGeometry(width, height);
    return RawGeometry::fromVisibleArea(hbin, vbin, ulx, uly, lrx, lry);
}

bool ConvertOptions::parse(const QStringList& arguments, ConvertOptions& options, QString& error)
{
    options = ConvertOptions();
    bool widthGiven = false;
    bool heightGiven = false;
    bool onlyInputs = false;

    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (onlyInputs || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            options.inputs << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            onlyInputs = true;
            continue;
        }

        QString name = arg;
        std::optional<QString> attached;
        const int eq = arg.indexOf(QLatin1Char('='));
        if (arg.startsWith(QLatin1String("--")) && eq > 2) {
            name = arg.left(eq);
            attached = arg.mid(eq + 1);
        }

        // Takes count values for the current option into values.
        QStringList values;
        auto take = [&](int count) {
            if (attached) {
                if (count != 1) {
                    error = QStringLiteral("%1 takes %2 values, as separate words").arg(name).arg(count);
                    return false;
                }
                values << *attached;
                return true;
            }
            if (i + count >= arguments.size()) {
                error = QStringLiteral("%1 needs %2 value(s)").arg(name).arg(count);
                return false;
            }
            for (int k = 0; k < count; ++k)
                values << arguments.at(++i);
            return true;
        };
        auto toInt = [&](int index, int minimum, int& out) {
            bool ok = false;
            const int v = values.at(index).toInt(&ok, 10);
            if (!ok || v < minimum) {
                error = QStringLiteral("%1: \"%2\" is not a whole number of at least %3")
                            .arg(name, values.at(index))
                            .arg(minimum);
                return false;
            }
            out = v;
            return true;
        };
        auto toDouble = [&](double& out) {
            bool ok = false;
            const double v = values.at(0).toDouble(&ok);
            if (!ok || !std::isfinite(v) || v < 0) {
                error = QStringLiteral("%1: \"%2\" is not a number of at least 0").arg(name, values.at(0));
                return false;
            }
            out = v;
            return true;
        };
        auto flag = [&](bool& out) {
            if (attached) {
                error = QStringLiteral("%1 takes no value").arg(name);
                return false;
            }
            out = true;
            return true;
        };

        bool ok = true;
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            ok = flag(options.help);
        } else if (name == QLatin1String("--version")) {
            ok = flag(options.version);
        } else if (name == QLatin1String("--png")) {
            ok = flag(options.png);
        } else if (name == QLatin1String("--fits")) {
            ok = flag(options.fits);
        } else if (name == QLatin1String("--force")) {
            ok = flag(options.force);
        } else if (name == QLatin1String("--width")) {
            ok = take(1) && toInt(0, 1, options.width);
            widthGiven = true;
        } else if (name == QLatin1String("--height")) {
            ok = take(1) && toInt(0, 1, options.height);
            heightGiven = true;
        } else if (name == QLatin1String("--bin")) {
            ok = take(2) && toInt(0, 1, options.hbin) && toInt(1, 1, options.vbin);
            options.binGiven = true;
        } else if (name == QLatin1String("--visible")) {
            ok = take(4) && toInt(0, 0, options.ulx) && toInt(1, 0, options.uly) && toInt(2, 0, options.lrx)
                 && toInt(3, 0, options.lry);
            options.visibleGiven = true;
        } else if (name == QLatin1String("--low")) {
            ok = take(1) && toDouble(options.lowPercent);
        } else if (name == QLatin1String("--high")) {
            ok = take(1) && toDouble(options.highPercent);
        } else if (name == QLatin1String("--exptime")) {
            double ms = 0;
            ok = take(1) && toDouble(ms);
            options.exposureMs = ms;
        } else if (name == QLatin1String("--suffix")) {
            ok = take(1);
            if (ok) {
                options.suffix = values.at(0);
                if (!options.suffix.startsWith(QLatin1Char('.')))
                    options.suffix.prepend(QLatin1Char('.'));
                if (options.suffix == QLatin1String(".")) {
                    error = QStringLiteral("--suffix must not be empty");
                    ok = false;
                }
            }
        } else if (name == QLatin1String("--out")) {
            ok = take(1);
            if (ok && values.at(0).isEmpty()) {
                error = QStringLiteral("--out must name a directory");
                ok = false;
            }
            if (ok)
                options.outDir = values.at(0);
        } else {
            error = QStringLiteral("unknown option %1").arg(name);
            ok = false;
        }
        if (!ok)
            return false;
    }

    if (options.help || options.version)
        return true;
    if (widthGiven != heightGiven) {
        error = QStringLiteral("--width and --height go together");
        return false;
    }
    options.sizeGiven = widthGiven;
    if (options.visibleGiven && (options.lrx <= options.ulx || options.lry <= options.uly)) {
        error = QStringLiteral("--visible: the lower-right corner must lie right of and below the upper-left one");
        return false;
    }
    if (!options.geometry().isValid()) {
        error = QStringLiteral("binning %1 x %2 leaves no pixel of the visible area %3 %4 %5 %6")
                    .arg(options.hbin)
                    .arg(options.vbin)
                    .arg(options.ulx)
                    .arg(options.uly)
                    .arg(options.lrx)
                    .arg(options.lry);
        return false;
    }
    if (options.lowPercent >= options.highPercent || options.highPercent > 100) {
        error = QStringLiteral("the percentiles must satisfy 0 <= --low < --high <= 100");
        return false;
    }
    if (!options.png && !options.fits) {
        error = QStringLiteral("choose an output format: --png, --fits or both");
        return false;
    }
    if (options.inputs.isEmpty()) {
        error = QStringLiteral("no input files or directories");
        return false;
    }
    return true;
}

QString ConvertOptions::usage(const QString& program)
{
    return QStringLiteral("Usage: %1 (--png | --fits | --png --fits) [options] FILE|DIR...\n"
                          "Converts the camera service's raw image files (rows of 16-bit pixels, least\n"
                          "significant byte first, no header) to PNG for a quick look and to FITS.\n"
                          "A directory stands for every regular file in it ending with the suffix.\n"
                          "Each output is named after its input with the suffix replaced:\n"
                          "  run0003-0002.dat -> run0003-0002.png, run0003-0002.fits\n"
                          "\n"
                          "Metadata: when NAME.dat.json (written by the service) lies beside NAME.dat, it\n"
                          "gives the geometry and the exposure time, and fills the FITS header (DATE-OBS,\n"
                          "EXPTIME, CCD-TEMP, SET-TEMP, binning, pixel size, camera model, IMAGETYP).\n"
                          "NAME.json, as earlier releases named it, is read when NAME.dat.json is missing.\n"
                          "Options given on the command line win over it. A metadata file that names\n"
                          "another image, does not parse or does not fit the raw file's size is reported\n"
                          "and ignored.\n"
                          "\n"
                          "Geometry (without metadata; the raw files do not record it):\n"
                          "  --bin HBIN VBIN          binning of the exposure (default 1 1)\n"
                          "  --visible ULX ULY LRX LRY visible area of the CCD (default %2 %3 %4 %5);\n"
                          "                           width = (LRX-ULX)/HBIN, height = (LRY-ULY)/VBIN\n"
                          "  --width W --height H     the size outright (binning and visible area then\n"
                          "                           only go into the FITS header)\n"
                          "Output:\n"
                          "  --png                    8-bit grey PNG, stretched linearly between two\n"
                          "                           percentiles of the pixel values\n"
                          "  --low P, --high P        those percentiles (default 0.5 and 99.5)\n"
                          "  --fits                   FITS, BITPIX 16 with BZERO 32768 (unsigned counts)\n"
                          "  --exptime MS             exposure time in ms, written as EXPTIME in seconds\n"
                          "                           (default: from the metadata)\n"
                          "  --suffix SUF             suffix of the raw files in a directory (default .dat)\n"
                          "  --out DIR                write into DIR (created if missing) instead of next\n"
                          "                           to each input\n"
                          "  --force                  replace outputs that exist (never done otherwise)\n"
                          "  -h, --help               this text\n"
                          "  --version                print the version and exit\n"
                          "\n"
                          "Exit status: 0 all converted; 1 a file could not be read or written, or an\n"
                          "output exists; 2 bad command line, or a file's size does not fit the geometry.\n")
        .arg(program)
        .arg(DefaultUlx)
        .arg(DefaultUly)
        .arg(DefaultLrx)
        .arg(DefaultLry);
}

} // namespace rawconv
