// Saving never reports a failed write as success and never destroys the file
// that was there: full disks, devices, read-only folders, links, permissions,
// in-place edits, and images too large for a format.
#include <gtest/gtest.h>

#include <sys/stat.h>
#if !defined(_WIN32)
#  include <fcntl.h>
#  include <sys/mount.h>
#  include <sys/resource.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "quendal_imgtext.h"
#include "test_support.h"

using test_support::scratch_dir;

namespace {

int write_card(const std::string &out, int w = 40, int h = 20) {
    return imgtext_create(out.c_str(), "Hi", w, h, 12, 255, 255, 255, 0, 0, 0);
}

// A save that returned result failed, with the message that names path.
void expect_failed_save(int result, const std::string &path) {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::string(imgtext_last_error()), "failed to write image to " + path);
}

TEST(SaveSafety, MissingFolderFailsAndCreatesNothing) {
    scratch_dir dir;
    const std::string out = dir.path("no/such/folder/card.png");
    expect_failed_save(write_card(out), out);
    EXPECT_TRUE(dir.entries().empty());
}

// The drawing API adds the system's reason to the seven calls' sentence, and
// refuses a name whose extension it cannot honour rather than filling it
// with another format's bytes.
TEST(SaveSafety, DrawingApiSaysWhyASaveFailed) {
    scratch_dir dir;
    imgtext_image *image = nullptr;
    ASSERT_EQ(imgtext_image_create(8, 8, {9, 9, 9, 255}, &image), IMGTEXT_OK);
    ASSERT_EQ(write_card(dir.path("file.png")), 1);
    struct refusal {
        std::string path, message;
        imgtext_status status;
    };
    std::vector<refusal> cases = {
        {dir.path("no/such/folder/card.png"), ": no such folder", IMGTEXT_ERROR_WRITE},
        {dir.path("card.gif"), "", IMGTEXT_ERROR_ARGUMENT},
        {dir.path("card.HEIC"), "", IMGTEXT_ERROR_ARGUMENT},
    };
#if !defined(_WIN32)
    cases.push_back({dir.path("file.png/card.png"), ": a part of the path is not a folder", IMGTEXT_ERROR_WRITE});
    cases.push_back({"/dev/full", ": disk full", IMGTEXT_ERROR_WRITE});
#endif
    for (const auto &c : cases) {
        EXPECT_EQ(imgtext_image_save(image, c.path.c_str(), nullptr), c.status) << c.path;
        const std::string expected = c.status == IMGTEXT_ERROR_WRITE
                                         ? "failed to write image to " + c.path + c.message
                                         : "invalid argument: cannot write a " + c.path.substr(c.path.rfind('.')) +
                                               " file: use .png, .jpg, .jpeg or .bmp, or set a format";
        EXPECT_EQ(imgtext_error_message(), expected);
    }
    imgtext_save_options as_png;
    imgtext_save_options_init(&as_png);
    as_png.format = IMGTEXT_FORMAT_PNG;  // the caller's explicit choice is honoured
    EXPECT_EQ(imgtext_image_save(image, dir.path("card.gif").c_str(), &as_png), IMGTEXT_OK);
    EXPECT_EQ(imgtext_image_save(image, dir.path("no-extension").c_str(), nullptr), IMGTEXT_OK);
    imgtext_image_free(image);
}

TEST(SaveSafety, ReplacingAFileLeavesOnlyTheNewFile) {
    scratch_dir dir;
    for (const char *name : {"a.png", "a.png", "b.jpg", "b.jpg", "c.bmp"}) ASSERT_EQ(write_card(dir.path(name)), 1);
    ASSERT_EQ(write_card(dir.path("a.png"), 70, 10), 1);
    EXPECT_EQ(test_support::decode(dir.path("a.png")).width, 70);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.png", "b.jpg", "c.bmp"}));
}

TEST(WriterLimits, JpegSidesAbove65535AreRefusedBeforeWriting) {
    scratch_dir dir;
    EXPECT_EQ(imgtext_create(dir.path("ok.jpg").c_str(), nullptr, 65535, 1, 0, 0, 0, 0, 9, 9, 9), 1);
    const std::string out = dir.path("wide.jpg");
    expect_failed_save(imgtext_create(out.c_str(), nullptr, 65536, 1, 0, 0, 0, 0, 9, 9, 9), out);
    EXPECT_EQ(imgtext_create(out.c_str(), nullptr, 1, 65536, 0, 0, 0, 0, 9, 9, 9), 0);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"ok.jpg"});
}

#if !defined(_WIN32)
// The temporary file's name is longer than the destination's; a name at the
// file system's limit must still be writable.
TEST(SaveSafety, NamesAtTheLengthLimitCanBeWritten) {
    scratch_dir dir;
    for (const size_t length : {240u, 250u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".png";
        ASSERT_EQ(write_card(dir.path(name)), 1) << length << ": " << imgtext_last_error();
        ASSERT_EQ(write_card(dir.path(name), 20, 10), 1) << length;
    }
    EXPECT_EQ(dir.entries().size(), 3u);
}

// A small tmpfs mounted for the length of a test; needs root (or the
// capability to mount), otherwise the test that wants it is skipped.
class small_disk {
public:
    small_disk(const std::string &where, const char *options) : where_(where) {
        mkdir(where.c_str(), 0755);
        mounted_ = mount("tmpfs", where.c_str(), "tmpfs", 0, options) == 0;
        error_ = errno;
    }
    ~small_disk() {
        if (mounted_) umount2(where_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool remount_read_only() { return mount("tmpfs", where_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
    std::string why() const { return std::string("cannot mount a tmpfs here: ") + std::strerror(error_); }
    std::string path(const std::string &name) const { return where_ + "/" + name; }
    std::vector<std::string> entries() const { return scratch_dir::entries(where_); }

private:
    std::string where_;
    bool mounted_ = false;
    int error_ = 0;
};

TEST(SaveSafety, DeviceThatIsAlwaysFullFails) { expect_failed_save(write_card("/dev/full"), "/dev/full"); }

TEST(SaveSafety, FifoOutputIsWrittenDirectlyNotReplaced) {
    // A FIFO stands for every output that is not a regular file (devices
    // too): the bytes must go through it, and it must still be a FIFO.
    scratch_dir dir;
    const std::string fifo = dir.path("pipe.png");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Our reading end is open first, so the library's open does not block,
    // and the small card fits in the pipe's buffer.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(write_card(fifo), 1) << imgtext_last_error();
    std::vector<uint8_t> received(65536);
    const ssize_t got = read(reader, received.data(), received.size());
    close(reader);
    received.resize(got > 0 ? static_cast<size_t>(got) : 0);
    ASSERT_GT(received.size(), 8u);
    EXPECT_EQ(received[1], 'P');  // a PNG came through
    struct stat st {};
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"pipe.png"});
}

TEST(SaveSafety, FullDiskFailsAndKeepsThePreviousFile) {
    scratch_dir dir;
    small_disk disk(dir.path("disk"), "size=64k");
    if (!disk.mounted()) IMGTEXT_SKIP_FOR_WANT_OF("tmpfs", disk.why());
    const std::string out = disk.path("picture.bmp");
    ASSERT_EQ(write_card(out), 1);
    const std::vector<uint8_t> before = test_support::read_bytes(out);

    test_support::write_png(dir.path("noise.png"), test_support::noise(200, 200));  // 160 kB as BMP
    expect_failed_save(imgtext_add(dir.path("noise.png").c_str(), out.c_str(), "x", 0, 0, 0, 0, 0, 0, 1.0f), out);
    EXPECT_EQ(test_support::read_bytes(out), before);
    EXPECT_EQ(disk.entries(), std::vector<std::string>{"picture.bmp"});
}

TEST(SaveSafety, InPlaceEditThatCannotBeWrittenLeavesTheInputIntact) {
    scratch_dir dir;
    small_disk disk(dir.path("disk"), "size=96k");
    if (!disk.mounted()) IMGTEXT_SKIP_FOR_WANT_OF("tmpfs", disk.why());
    const std::string photo = disk.path("photo.png");
    test_support::write_png(photo, test_support::noise(150, 150));  // ~90 kB: a second copy cannot fit
    const std::vector<uint8_t> before = test_support::read_bytes(photo);

    expect_failed_save(imgtext_add(photo.c_str(), photo.c_str(), "Hi", 5, 5, 24, 255, 255, 255, 1.0f), photo);
    EXPECT_EQ(test_support::read_bytes(photo), before);
    EXPECT_EQ(disk.entries(), std::vector<std::string>{"photo.png"});
}

TEST(SaveSafety, ReadOnlyFolderFailsForANewFileAndCreatesNothing) {
    scratch_dir dir;
    small_disk disk(dir.path("disk"), "size=64k");
    if (!disk.mounted()) IMGTEXT_SKIP_FOR_WANT_OF("tmpfs", disk.why());
    ASSERT_TRUE(disk.remount_read_only());
    const std::string out = disk.path("card.png");
    expect_failed_save(write_card(out), out);
    EXPECT_TRUE(disk.entries().empty());
}

// Root ignores folder permissions, so these saves run as an unprivileged user
// in a child process; returns the child's exit status (the call's result).
constexpr uid_t k_nobody = 65534;
template <typename Save>
int save_as_nobody(Save save) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(k_nobody) != 0 || setuid(k_nobody) != 0) _exit(3);
        _exit(save());
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SaveSafety, WritableFileInAFolderThatForbidsNewFilesIsOverwrittenInPlaceOrNotAtAll) {
    if (geteuid() != 0) IMGTEXT_SKIP_FOR_WANT_OF("root", "needs root to switch to an unprivileged user");
    scratch_dir dir;
    const std::string folder = dir.path("locked"), out = folder + "/card.bmp";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(write_card(out, 10, 10), 1);
    ASSERT_EQ(chown(out.c_str(), k_nobody, k_nobody), 0);
    ASSERT_EQ(chmod(dir.root().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    const std::vector<uint8_t> before = test_support::read_bytes(out);

    // A file-size limit below the new file's 2,522 bytes: the old file stays.
    EXPECT_EQ(save_as_nobody([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{1024, 1024};
                  setrlimit(RLIMIT_FSIZE, &limit);
                  return write_card(out, 30, 20);
              }),
              0);
    EXPECT_EQ(test_support::read_bytes(out), before);

    EXPECT_EQ(save_as_nobody([&] { return write_card(out, 30, 20); }), 1);
    EXPECT_EQ(test_support::decode(out).width, 30);
    chmod(folder.c_str(), 0755);
}

// In a sticky folder such as /tmp, another user's file may be written but
// not replaced by a rename.
TEST(SaveSafety, AnotherUsersWritableFileInAStickyFolderIsUpdatedInPlace) {
    if (geteuid() != 0) IMGTEXT_SKIP_FOR_WANT_OF("root", "needs root to switch to an unprivileged user");
    scratch_dir dir;
    const std::string folder = dir.path("sticky"), out = folder + "/shared.png";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.root().c_str(), 0755), 0);
    ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
    ASSERT_EQ(write_card(out, 10, 10), 1);
    ASSERT_EQ(chmod(out.c_str(), 0666), 0);

    EXPECT_EQ(save_as_nobody([&] { return write_card(out, 30, 20); }), 1);
    EXPECT_EQ(test_support::decode(out).width, 30);
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(scratch_dir::entries(folder).size(), 1u);  // no temporary file left behind
}

TEST(SaveSafety, ReplacedFileKeepsItsPermissionsAndNewFilesFollowTheUmask) {
    scratch_dir dir;
    const std::string kept = dir.path("kept.png"), fresh = dir.path("fresh.png");
    ASSERT_EQ(write_card(kept), 1);
    ASSERT_EQ(chmod(kept.c_str(), 0604), 0);
    ASSERT_EQ(write_card(kept, 50, 30), 1);
    struct stat st {};
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(test_support::decode(kept).width, 50);

    const mode_t old_mask = umask(027);
    ASSERT_EQ(write_card(fresh), 1);
    umask(old_mask);
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(SaveSafety, SymbolicLinkKeepsPointingAtTheUpdatedFile) {
    scratch_dir dir;
    const std::string target = dir.path("target.png"), link = dir.path("link.png");
    ASSERT_EQ(write_card(target), 1);
    ASSERT_EQ(symlink("target.png", link.c_str()), 0);
    ASSERT_EQ(write_card(link, 60, 25), 1);
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(test_support::decode(target).width, 60);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"link.png", "target.png"}));
}

TEST(SaveSafety, DanglingLinkCreatesTheFileItNames) {
    scratch_dir dir;
    const std::string link = dir.path("link.png");
    ASSERT_EQ(symlink("made.png", link.c_str()), 0);
    ASSERT_EQ(write_card(link), 1) << imgtext_last_error();
    EXPECT_EQ(test_support::decode(dir.path("made.png")).width, 40);
}

#endif  // !_WIN32

}  // namespace
