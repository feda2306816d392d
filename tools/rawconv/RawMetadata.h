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

// Reads the metadata file beside rawPath (imagemeta::fileNameFor). Empty
// with problem empty when there is none; empty with problem set (one line
// naming the file and why) when it is no regular file, cannot be read, does
// not parse or does not describe an image of rawSize bytes.
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
