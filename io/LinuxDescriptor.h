// The descriptor calls that the Linux file classes share: EINTR retried in
// one place, errno turned into the layer's result codes in one place.
#ifndef ORVEL_IO_LINUXDESCRIPTOR_H
#define ORVEL_IO_LINUXDESCRIPTOR_H

namespace orvel {
namespace linuxio {

// Bytes read (0 at end of file), -1 when nothing is available on a
// non-blocking descriptor, -2 for no descriptor or another failure.
int readSome(int fd, void* buffer, unsigned int length);
int writeSome(int fd, const void* buffer, unsigned int length);
// Sets or clears O_NONBLOCK on the descriptor's open file description.
void applyNonBlocking(int fd, bool on);
// The open flags of a mode word's access bits and append bit.
int accessFlags(unsigned int mode);
// The result of a failed open or stat for errno: -4, -3 or -2.
int openFailure(int error);
// Whether path names the regular file open on fd, however it is named:
// writing to it from the start would empty that file before it is read.
bool sameRegularFile(int fd, const char* path);

}  // namespace linuxio
}  // namespace orvel

#endif  // ORVEL_IO_LINUXDESCRIPTOR_H
