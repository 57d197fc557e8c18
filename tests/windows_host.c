/* A Windows host that loads the DLL at run time and finds every export by
 * name, as a P/Invoke or ctypes host does. Usage: windows_host DLL-NAME */
#include <stdio.h>
#include <string.h>
#include <windows.h>

typedef int (*init_fn)(void);
typedef void (*cleanup_fn)(void);
typedef const char *(*last_error_fn)(void);
typedef int (*create_fn)(const char *, const char *, int, int, int, int, int, int, int, int, int);
typedef int (*add_fn)(const char *, const char *, const char *, int, int, int, int, int, int, float);
typedef int (*boxed_fn)(const char *, const char *, const char *, int, int, int, int, int, int, int, int, int, int);
typedef int (*centered_fn)(const char *, const char *, const char *, int, int, int, int);

static int failures;
#define CHECK(cond)                                               \
  do {                                                            \
    if (!(cond)) {                                                \
      fprintf(stderr, "windows_host: check failed: %s\n", #cond); \
      ++failures;                                                 \
    }                                                             \
  } while (0)

/* GetProcAddress returns FARPROC; copying its bits into the typed pointer
 * is the portable way to convert between function pointer types. */
static void find(HMODULE dll, const char *name, void *fn, size_t size) {
    FARPROC f = GetProcAddress(dll, name);
    if (!f) {
        fprintf(stderr, "windows_host: %s is not exported\n", name);
        ++failures;
    }
    memcpy(fn, &f, size);
}
#define FIND(var, name) find(dll, name, &var, sizeof var)

int main(int argc, char **argv) {
    HMODULE dll = LoadLibraryA(argc > 1 ? argv[1] : "quendal-imgtext.dll");
    init_fn init;
    cleanup_fn cleanup;
    last_error_fn last_error;
    create_fn create;
    add_fn add;
    boxed_fn boxed;
    centered_fn centered;
    if (!dll) {
        fprintf(stderr, "windows_host: LoadLibrary failed (%lu)\n", (unsigned long)GetLastError());
        return 1;
    }
    FIND(init, "imgtext_init");
    FIND(cleanup, "imgtext_cleanup");
    FIND(last_error, "imgtext_last_error");
    FIND(create, "imgtext_create");
    FIND(add, "imgtext_add");
    FIND(boxed, "imgtext_add_boxed");
    FIND(centered, "imgtext_centered");
    if (failures) return 1;

    CHECK(last_error()[0] == '\0');
    CHECK(init() == 1);
    CHECK(create("windows_host.png", "DLL", 80, 30, 0, 255, 255, 255, 0, 0, 0) == 1);
    CHECK(add("windows_host.png", "windows_host.bmp", "add", 1, 1, 12, 255, 0, 0, 0.5f) == 1);
    CHECK(boxed("windows_host.png", "windows_host.bmp", "box", 1, 1, 12, 0, 0, 0, 255, 255, 0, 2) == 1);
    CHECK(centered("windows_host.bmp", "windows_host.jpg", "mid", 12, 0, 255, 0) == 1);
    /* Saving over an existing file goes through ReplaceFile. */
    CHECK(create("windows_host.png", "again", 90, 30, 0, 255, 255, 255, 0, 0, 0) == 1);
    CHECK(add("missing.png", "x.png", "x", 0, 0, 0, 0, 0, 0, 1.0f) == 0);
    CHECK(strcmp(last_error(), "cannot read file: missing.png") == 0);
    CHECK(create("no\\such\\folder\\x.png", "x", 5, 5, 0, 0, 0, 0, 0, 0, 0) == 0);
    CHECK(strcmp(last_error(), "failed to write image to no\\such\\folder\\x.png") == 0);
    cleanup();
    DeleteFileA("windows_host.png");
    DeleteFileA("windows_host.bmp");
    DeleteFileA("windows_host.jpg");
    FreeLibrary(dll);
    printf("windows_host: %s\n", failures ? "FAILED" : "ok");
    return failures != 0;
}
