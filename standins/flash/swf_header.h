// The fixed header of a SWF movie: signature, version, length, frame size, frame rate
// and frame count. "FWS" movies carry it plainly; in "CWS" movies everything after the
// first 8 bytes is a zlib stream.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct SwfHeader {
    bool compressed;      // "CWS"
    uint8_t version;
    uint32_t fileLength;  // length of the whole movie once uncompressed
    int32_t xMin, xMax, yMin, yMax;  // frame rectangle in twips (1/20 pixel)
    uint16_t frameRate;   // 8.8 fixed point: frames per second times 256
    uint16_t frameCount;
};

// Reads the header from the first `length` bytes of a movie. False when the bytes do
// not start with a known signature or end (or fail to inflate) before the frame count.
bool ParseSwfHeader(const uint8_t* data, size_t length, SwfHeader* header);
