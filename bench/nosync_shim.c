/* Benchmark-only LD_PRELOAD library: fsync, fdatasync, syncfs, sync and sync_file_range return
 * at once without writing anything back, so that a run can be timed as if it never synced. */
#include <sys/types.h>

int fsync(int fd) { (void)fd; return 0; }
int fdatasync(int fd) { (void)fd; return 0; }
int syncfs(int fd) { (void)fd; return 0; }
void sync(void) {}
int sync_file_range(int fd, off_t offset, off_t nbytes, unsigned int flags) {
    (void)fd; (void)offset; (void)nbytes; (void)flags;
    return 0;
}
