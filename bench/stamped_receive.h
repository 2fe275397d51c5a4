/* What the bench's unit peers share: a read that also gives the kernel's
 * receive stamp of the segment that carried its last byte. */
#ifndef VANTREL_BENCH_STAMPED_RECEIVE_H
#define VANTREL_BENCH_STAMPED_RECEIVE_H

#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <time.h>

/* recvmsg(FD, FLAGS) into BYTES; sets *ARRIVAL_NS (CLOCK_REALTIME, in ns)
 * when the socket has SO_TIMESTAMPNS on and something came. */
static ssize_t receive_stamped(int fd, void* bytes, size_t length, int flags, long long* arrival_ns) {
  char control[CMSG_SPACE(sizeof(struct timespec))];
  struct iovec part = {bytes, length};
  struct msghdr message;
  memset(&message, 0, sizeof message);
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(fd, &message, flags);
  for (struct cmsghdr* h = n > 0 ? CMSG_FIRSTHDR(&message) : NULL; h != NULL; h = CMSG_NXTHDR(&message, h)) {
    if (h->cmsg_level == SOL_SOCKET && h->cmsg_type == SCM_TIMESTAMPNS) {
      struct timespec t;
      memcpy(&t, CMSG_DATA(h), sizeof t);
      *arrival_ns = (long long)t.tv_sec * 1000000000 + t.tv_nsec;
    }
  }
  return n;
}

#endif
