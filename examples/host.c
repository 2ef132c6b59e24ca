/*
 * A minimal C host for libquillon: it loads the library at run time and binds
 * each export by name with the double / char* signature a scripting host
 * uses, then calls a few of them on files in a folder of its own.
 *
 *   host LIBRARY WORKDIR
 *
 * Prints what each call returned and exits with 0 when every result is as
 * expected.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#define CALLCONV __cdecl
typedef HMODULE library_t;
static library_t load(const char* path) { return LoadLibraryA(path); }
static void* bind_export(library_t lib, const char* name) { return (void*)GetProcAddress(lib, name); }
#else
#include <dlfcn.h>
#define CALLCONV
typedef void* library_t;
static library_t load(const char* path) { return dlopen(path, RTLD_NOW); }
static void* bind_export(library_t lib, const char* name) { return dlsym(lib, name); }
#endif

/* The signatures of the exports this host uses. */
typedef double(CALLCONV* number_of_two_numbers)(double, double);
typedef char*(CALLCONV* text_of_text)(const char*);
typedef double(CALLCONV* number_of_two_texts)(const char*, const char*);
typedef double(CALLCONV* number_of_three_texts)(const char*, const char*, const char*);
typedef double(CALLCONV* number_of_four_texts)(const char*, const char*, const char*, const char*);

static int failures = 0;

static void expect_text(const char* what, const char* got, const char* want) {
  int ok = got != NULL && strcmp(got, want) == 0;
  printf("%-34s %s%s\n", what, got ? got : "(null)", ok ? "" : "   <-- unexpected");
  failures += !ok;
}

static void expect_number(const char* what, double got, double want) {
  int ok = got == want;
  printf("%-34s %g%s\n", what, got, ok ? "" : "   <-- unexpected");
  failures += !ok;
}

static int write_bytes(const char* path, const char* bytes, size_t n) {
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(bytes, 1, n, f);
  return fclose(f) == 0;
}

static long read_bytes(const char* path, char* buf, size_t cap) {
  FILE* f = fopen(path, "rb");
  size_t n;
  if (!f) return -1;
  n = fread(buf, 1, cap, f);
  fclose(f);
  return (long)n;
}

#define BIND(type, name) type name = (type)bind_export(lib, #name); \
  if (!name) { fprintf(stderr, "the library has no export %s\n", #name); return 1; }

int main(int argc, char** argv) {
  char src[1024], enc[1024], dec[1024], key1[1024], key2[1024], hashed[1024], buf[256];
  const char* text = "libquillon host example\nsecond line\n";
  library_t lib;
  long n;
  if (argc != 3) {
    fprintf(stderr, "usage: host LIBRARY WORKDIR\n");
    return 64;
  }
  lib = load(argv[1]);
  if (!lib) {
    fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  {
    BIND(number_of_two_numbers, add)
    BIND(text_of_text, HASHmd5)
    BIND(text_of_text, HASHsha1)
    BIND(text_of_text, makeBuffer)
    BIND(number_of_two_texts, T2GMT)
    BIND(number_of_four_texts, QCRYPT_makeKeys)
    BIND(number_of_three_texts, QCRYPT_encrypt)
    BIND(number_of_three_texts, QCRYPT_decrypt)

    snprintf(src, sizeof src, "%s/plain.txt", argv[2]);
    snprintf(enc, sizeof enc, "%s/plain.enc", argv[2]);
    snprintf(dec, sizeof dec, "%s/plain.dec", argv[2]);
    snprintf(key1, sizeof key1, "%s/key1.bin", argv[2]);
    snprintf(key2, sizeof key2, "%s/key2.bin", argv[2]);
    snprintf(hashed, sizeof hashed, "%s/plain.hashed", argv[2]);
    if (!write_bytes(src, text, strlen(text))) {
      fprintf(stderr, "cannot write in %s\n", argv[2]);
      return 1;
    }

    expect_number("add(1.5, 2.25)", add(1.5, 2.25), 3.75);
    /* Copy a returned text at once: the next call may reuse its storage. */
    expect_text("HASHmd5(\"abc\")", HASHmd5("abc"), "900150983cd24fb0d6963f7d28e17f72");
    expect_text("HASHsha1(\"abc\")", HASHsha1("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    expect_text("makeBuffer(plain.txt)", makeBuffer(src), "libquillon host example\n");
    expect_number("T2GMT(plain.txt, plain.hashed)", T2GMT(src, hashed), 1);
    n = read_bytes(hashed, buf, sizeof buf - 1);
    buf[n < 0 ? 0 : n] = '\0';
    expect_text("plain.hashed holds", buf, "libquillon host example#second line#");
    expect_number("QCRYPT_makeKeys(plain.txt, ...)", QCRYPT_makeKeys(src, key1, key2, "k3y!"),
                  (double)strlen(text) + 1);
    expect_number("QCRYPT_encrypt(plain.txt, key1)", QCRYPT_encrypt(src, enc, key1), 1);
    expect_number("QCRYPT_decrypt(plain.dec, key1)", QCRYPT_decrypt(dec, enc, key1), 1);
    n = read_bytes(dec, buf, sizeof buf - 1);
    buf[n < 0 ? 0 : n] = '\0';
    expect_text("decrypted text equals the plain", strcmp(buf, text) == 0 ? "yes" : "no", "yes");
  }
  printf("%s\n", failures ? "some results were unexpected" : "all results as expected");
  return failures ? 1 : 0;
}
