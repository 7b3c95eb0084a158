#pragma once

#include <cstdint>

#include <QByteArrayView>

// The facts of a PNG file that a document needs, read from its signature and IHDR chunk without
// decoding the image (quillet links no image library).
struct PngHeader
{
    enum class Status
    {
        Valid,
        NotPng,
        Truncated
    };

    Status status = Status::NotPng;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    bool isValid() const { return status == Status::Valid; }

    // Checks the signature, a well-formed IHDR as the first chunk and an IEND chunk at the end, so
    // a file cut short while being written is refused rather than embedded broken.
    static PngHeader read(QByteArrayView bytes);
};
