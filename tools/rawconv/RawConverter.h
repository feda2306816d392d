#pragma once

#include "ConvertOptions.h"
#include "ImageMetadata.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

namespace rawconv {

class RawImage;

// Converts every input the options name, going on past files that fail so
// one bad frame does not hold up a directory of good ones.
class RawConverter
{
public:
    // Exit statuses; the worst one met over all files is returned.
    enum Status { Ok = 0, Failed = 1, BadInput = 2 };

    explicit RawConverter(const ConvertOptions& options);

    // Writes one line per output made to out and one per problem to err.
    int run(QTextStream& out, QTextStream& err);

    // The files an input stands for: itself, or a directory's regular files
    // ending with suffix, sorted by name (hidden files are left out).
    static QStringList expand(const QString& input, const QString& suffix);

private:
    int convert(const QString& input, QTextStream& out, QTextStream& err);
    int writeOutput(const QString& input, const QString& extension, const RawImage& image,
                    const std::optional<imagemeta::ImageMetadata>& metadata, QTextStream& out, QTextStream& err);

    ConvertOptions options_;
    QSet<QString> written_; // absolute paths made by this run
};

} // namespace rawconv
