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

// Photo-sized buffers handed on from one photo to the next while a run of photos is under way.
// The system zeroes every page of a fresh buffer before the first byte lands in it, which costs
// a tenth of a caption that keeps the photo's data; the photos of one run are mostly of one size,
// so what one photo's file, output and pictures freed fits the next one's. A run (a batch, a
// command of the tool) holds a BufferReuse; when the last one ends, what was kept is let go, so
// that a single save in the program keeps nothing.
class BufferReuse {
public:
    BufferReuse();
    ~BufferReuse();
    BufferReuse(const BufferReuse&) = delete;
    BufferReuse& operator=(const BufferReuse&) = delete;
};
// An empty array of at least `capacity` bytes: one given back if one is there, else a new one,
// on huge pages unless told otherwise (a generous bound of what may be filled: huge pages would
// take memory in steps of 2 MB past what is).
QByteArray TakeBytes(qsizetype capacity, bool hugePages = true);
// Keeps bytes for TakeBytes while a run is under way, when they are large and nothing else holds
// them (a few per core, a bounded total); otherwise lets them go.
void GiveBackBytes(QByteArray&& bytes);
