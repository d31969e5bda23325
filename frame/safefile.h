#pragma once
#include "frame/imagebound.h"

#include <QFile>
#include <QImage>
#include <QSize>
#include <QString>

// Files the station reads but does not own (help pages, templates, masks,
// day files) may be anything a person or a copy tool left there: a FIFO
// blocks the reader for good, a huge image takes gigabytes. These helpers
// read only regular files and only images within a stated bound.

bool imageSizeAllowed(const QSize& size);

// Opens path for reading when it is a regular file (a link to one counts).
// Otherwise returns false with the reason in *why ("missing" when absent).
bool openRegularFile(QFile& file, const QString& path, QString* why = nullptr);

// Reads an image from a regular file within the bound. *why gets the reason
// of a null result.
QImage readImageFile(const QString& path, QString* why = nullptr);

// True when both names reach one file (links and hard links alike).
bool sameFile(const QString& a, const QString& b);
