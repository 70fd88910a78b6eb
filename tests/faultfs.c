/* A read-only view of a directory that answers EIO where a failing disk
 * would: for reads of chosen files that reach a chosen offset, and for the
 * listing of chosen directories. The errors come from the kernel's FUSE
 * side, so a reader sees them exactly as it would see a bad sector's.
 *
 *   faultfs SOURCE MOUNTPOINT [--file PATH[@OFFSET]]... [--dir PATH]...
 *
 * PATH is below SOURCE, without a leading slash; OFFSET defaults to 0 (every
 * read fails). The program returns once the file system is mounted and
 * serves it in the background until it is unmounted. */

#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { maxFaults = 256 };

struct fault
{
    char path[PATH_MAX];
    long long offset;
};

static char source[PATH_MAX];
static struct fault files[maxFaults];
static int fileCount;
static char dirs[maxFaults][PATH_MAX];
static int dirCount;

/* FUSE paths begin with a slash; the fault lists hold them without one. */
static const struct fault *faultyFile(const char *path)
{
    for (int i = 0; i < fileCount; ++i)
        if (strcmp(files[i].path, path + 1) == 0)
            return &files[i];
    return NULL;
}

static int faultyDir(const char *path)
{
    for (int i = 0; i < dirCount; ++i)
        if (strcmp(dirs[i], path + 1) == 0)
            return 1;
    return 0;
}

static int real(const char *path, char *out)
{
    if (snprintf(out, PATH_MAX, "%s%s", source, path) >= PATH_MAX)
        return -ENAMETOOLONG;
    return 0;
}

static void *start(struct fuse_conn_info *conn, struct fuse_config *config)
{
    (void)conn;
    config->use_ino = 1;
    /* The tree does not change under the mount: names and pages may stay
     * cached, which keeps a large tree fast. A faulty file bypasses the
     * page cache, so every read of it reaches the check below. */
    config->kernel_cache = 1;
    config->entry_timeout = 3600;
    config->attr_timeout = 3600;
    config->negative_timeout = 3600;
    return NULL;
}

static int getattrOf(const char *path, struct stat *info, struct fuse_file_info *fi)
{
    (void)fi;
    char full[PATH_MAX];
    int error = real(path, full);
    if (error)
        return error;
    return lstat(full, info) == 0 ? 0 : -errno;
}

static int readlinkOf(const char *path, char *buffer, size_t size)
{
    char full[PATH_MAX];
    int error = real(path, full);
    if (error)
        return error;
    const ssize_t n = readlink(full, buffer, size - 1);
    if (n < 0)
        return -errno;
    buffer[n] = '\0';
    return 0;
}

static int readdirOf(const char *path, void *buffer, fuse_fill_dir_t fill, off_t offset,
                     struct fuse_file_info *fi, enum fuse_readdir_flags flags)
{
    (void)offset;
    (void)fi;
    (void)flags;
    if (faultyDir(path))
        return -EIO;
    char full[PATH_MAX];
    int error = real(path, full);
    if (error)
        return error;
    DIR *dir = opendir(full);
    if (!dir)
        return -errno;
    const struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
        struct stat info;
        memset(&info, 0, sizeof info);
        info.st_ino = entry->d_ino;
        info.st_mode = (mode_t)DTTOIF(entry->d_type);
        if (fill(buffer, entry->d_name, &info, 0, 0))
            break;
    }
    closedir(dir);
    return 0;
}

static int openOf(const char *path, struct fuse_file_info *fi)
{
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    char full[PATH_MAX];
    int error = real(path, full);
    if (error)
        return error;
    const int fd = open(full, O_RDONLY);
    if (fd < 0)
        return -errno;
    fi->fh = (uint64_t)fd;
    if (faultyFile(path))
        fi->direct_io = 1;
    else
        fi->keep_cache = 1;
    return 0;
}

static int readOf(const char *path, char *buffer, size_t size, off_t offset, struct fuse_file_info *fi)
{
    const struct fault *fault = faultyFile(path);
    if (fault && (long long)offset + (long long)size > fault->offset)
        return -EIO;
    const ssize_t n = pread((int)fi->fh, buffer, size, offset);
    return n < 0 ? -errno : (int)n;
}

static int releaseOf(const char *path, struct fuse_file_info *fi)
{
    (void)path;
    close((int)fi->fh);
    return 0;
}

static int refuse(void)
{
    return -EROFS;
}

static int refuseMode(const char *path, mode_t mode)
{
    (void)path;
    (void)mode;
    return refuse();
}

static int refusePath(const char *path)
{
    (void)path;
    return refuse();
}

static const struct fuse_operations operations = {
    .getattr = getattrOf,
    .readlink = readlinkOf,
    .mkdir = refuseMode,
    .unlink = refusePath,
    .rmdir = refusePath,
    .open = openOf,
    .read = readOf,
    .release = releaseOf,
    .readdir = readdirOf,
    .init = start,
};

static void usage(void)
{
    fprintf(stderr, "usage: faultfs SOURCE MOUNTPOINT [--file PATH[@OFFSET]]... [--dir PATH]...\n");
    exit(2);
}

int main(int argc, char **argv)
{
    if (argc < 3)
        usage();
    if (!realpath(argv[1], source))
        usage();
    for (int i = 3; i < argc; ++i) {
        if (i + 1 >= argc)
            usage();
        const char *value = argv[++i];
        if (strcmp(argv[i - 1], "--file") == 0 && fileCount < maxFaults) {
            struct fault *fault = &files[fileCount++];
            snprintf(fault->path, sizeof fault->path, "%s", value);
            char *at = strrchr(fault->path, '@');
            fault->offset = 0;
            if (at) {
                *at = '\0';
                fault->offset = atoll(at + 1);
            }
        } else if (strcmp(argv[i - 1], "--dir") == 0 && dirCount < maxFaults) {
            snprintf(dirs[dirCount++], PATH_MAX, "%s", value);
        } else {
            usage();
        }
    }
    char *fuseArgs[] = {argv[0], argv[2], "-o", "ro,default_permissions,fsname=faultfs", NULL};
    return fuse_main(4, fuseArgs, &operations, NULL);
}
