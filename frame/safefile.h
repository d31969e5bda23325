#pragma once
#include "frame/imagebound.h"

#include <QFile>
#include <QImage>
#include <QSize>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

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

// Reads the whole of path when it is a regular file of at most maxBytes (a
// link to one counts), never waiting on a FIFO or a device. False with the
// reason in *why ("missing" when absent).
bool readRegularFile(const QString& path, QByteArray* out, QString* why = nullptr, qint64 maxBytes = 1 << 20);

// Writes bytes as the regular file path: under a temporary name beside it,
// synced, then renamed over it, so a power cut leaves the old or the new file
// whole. A link, or anything but a regular file, standing under that name is
// refused and nothing is written: the station never writes through a link
// into whatever file it points to, nor cuts a link someone laid on purpose.
bool replaceRegularFile(const QString& path, const QByteArray& bytes, QString* why = nullptr);

// Work inside folders held open by descriptor, one name at a time, never
// following a link below the folder the caller trusts: for drives and for
// files other programs may have laid in the station's way.
namespace atdir {

// A descriptor closed when it goes out of scope.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd();
    Fd(Fd&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
    Fd& operator=(Fd&& o) noexcept
    {
        std::swap(m_fd, o.m_fd);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd;
};

constexpr int kMaxDepth = 32; // folder depth any walk gives up at

// The folder path (followed as it stands: the caller trusts it).
Fd openDir(const QString& path);
// The folder `name` inside dirFd, never through a link: a link, a file or a
// device standing under that name is refused (ELOOP or ENOTDIR).
int openSubdir(int dirFd, const QByteArray& name);
// Walks the folders `parts` below dirFd one component at a time, making the
// missing ones when create is set; *made tells whether one was made.
Fd openChain(int dirFd, const QStringList& parts, bool create, bool* made, int* err);
// The names in a folder, "." and ".." left out.
QList<QByteArray> namesIn(int dirFd);
// True for a real folder (a link to one is not); *isLink tells a link.
bool isDirAt(int dirFd, const QByteArray& name, bool* isLink = nullptr);
// Removes the entry `name` of dirFd and, for a real folder, all it holds.
// A link is removed as a link: what it points to is never touched.
bool removeTreeAt(int dirFd, const QByteArray& name, int depth = 0);
// Writes bytes to `name` in dirFd under the temporary name ".<name>.tmp" and
// renames it into place; replace false refuses an existing name (EEXIST).
// A link of that name is replaced, its target never written.
bool writeAt(int dirFd, const QByteArray& name, const QByteArray& bytes, bool replace, int* errOut);
// Copies the real folders and regular files below fromFd into toFd, making
// folders and refusing names that exist; links and other kinds are left out.
// *failed names what could not be copied.
bool copyTreeAt(int fromFd, int toFd, QString* failed, int depth = 0);
// True when every regular file below fromFd stands below toFd with the same
// bytes (no link followed on either side).
bool sameTreeAt(int fromFd, int toFd, int depth = 0);

} // namespace atdir
