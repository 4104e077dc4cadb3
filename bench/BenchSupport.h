#pragma once

#include <QByteArray>
#include <QImage>

// A photo-like picture for the benchmarks: gradients, a checker of soft tiles and fine noise, so
// that JPEG has real work to do. Different seeds give different pictures.
QImage MakeBenchPhoto(int width, int height, quint32 seed);

// The JPEG with its first segment replaced by a camera-like EXIF block (Make "Bench" and the
// given DateTime, "yyyy:MM:dd hh:mm:ss"), so that saves carry a real block across.
QByteArray WithBenchExif(const QByteArray& jpeg, const QByteArray& dateTime);
