#pragma once

#include <QByteArray>
#include <QImage>

#include <cstddef>

// A new 32-bit image of width x height, uninitialised. Full-size photos are first touched page by
// page, and on virtual machines those page faults can cost more than the pixel work itself, so
// large buffers are asked to live on huge pages where the system supports it. Returns a null
// image when the memory cannot be had.
QImage NewImageBuffer(int width, int height, QImage::Format format);

// The same, but failing with EOutOfMemory ("Not enough memory for a W × H image.") instead of
// returning a null image.
QImage NewImageBufferOrThrow(int width, int height, QImage::Format format);
// Throws that error when image is null (a conversion or copy that could not get its memory).
void CheckImageAllocated(const QImage& image, int width, int height);

// Asks the system to back the whole huge pages inside [data, data + bytes) with huge pages: a
// photo-sized buffer filled at once then costs a few page faults instead of thousands. Advice
// only; nothing happens where the system does not offer them.
void AdviseHugePages(void* data, size_t bytes);
// The same for the buffer's whole capacity.
void AdviseHugePages(QByteArray& buffer);
