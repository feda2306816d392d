#pragma once

#include "ConvertOptions.h"
#include "FitsEncoder.h"
#include "ImageMetadata.h"
#include "RawGeometry.h"

#include <QString>

#include <optional>

namespace rawconv {

// The metadata file the service writes beside each raw file, and how it
// combines with the command line: an option given there always wins over the
// metadata; the metadata wins over the options' defaults.

// Reads the metadata file beside rawPath: imagemeta::fileNameFor, else the
// name earlier releases used (imagemeta::legacyFileNameFor). A file is used
// only when its imageFile is rawPath's file name and it describes an image of
// rawSize bytes. Empty with problem empty when there is none; otherwise
// problem has one line for each file set aside (naming the file and why: no
// regular file, unreadable, not parsed, another image's, another size).
std::optional<imagemeta::ImageMetadata> readMetadataBeside(const QString& rawPath, qint64 rawSize, QString& problem);

// The geometry to read the raw file with. --width/--height decide outright;
// otherwise --bin or --visible (or no metadata) derive it from binning and
// visible area, taking the binning from the metadata when --bin is missing;
// otherwise it is the metadata's size.
RawGeometry geometryFor(const ConvertOptions& options, const std::optional<imagemeta::ImageMetadata>& metadata);

// Everything known about the exposure for the FITS header; sourceFile is the
// raw file's name.
FitsEncoder::Keywords keywordsFor(const ConvertOptions& options,
                                  const std::optional<imagemeta::ImageMetadata>& metadata, const QString& sourceFile);

} // namespace rawconv
