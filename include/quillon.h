/*
 * libquillon: the exports a scripting host binds by name.
 *
 * Every export takes numbers (double) and texts (zero-terminated 8-bit
 * strings) and returns a double or a text. Texts returned by the library live
 * in library storage: copy them before the next call, never free them.
 * All exports use the C calling convention (cdecl on 32-bit Windows) and are
 * exported without decoration.
 *
 * The library is single-threaded by contract: call one export at a time, from
 * one thread, and the window exports from the thread that runs the host's own
 * windows. The random generator, the returned texts and the archive code's
 * last results are library-wide and unlocked. Only
 * ZIP and UNZIP start threads (QUILLON_THREADS in the environment sets how
 * many; 1 keeps them on the calling thread), and they join them before they
 * return; the library-wide state stays with the calling thread.
 */
#ifndef QUILLON_H
#define QUILLON_H

#if defined(_WIN32)
#  if defined(QUILLON_BUILDING)
#    define QUILLON_API __declspec(dllexport)
#  elif defined(QUILLON_STATIC)
#    define QUILLON_API
#  else
#    define QUILLON_API __declspec(dllimport)
#  endif
#  define QUILLON_CALL __cdecl
#else
#  if defined(QUILLON_BUILDING)
#    define QUILLON_API __attribute__((visibility("default")))
#  else
#    define QUILLON_API
#  endif
#  define QUILLON_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Numbers and directories */
QUILLON_API double QUILLON_CALL add(double a, double b);
QUILLON_API double QUILLON_CALL CD(const char* directory);
QUILLON_API double QUILLON_CALL MKDIR2(const char* directory);
QUILLON_API double QUILLON_CALL RMDIR(void);
QUILLON_API double QUILLON_CALL RMDIR2(const char* directory);
QUILLON_API double QUILLON_CALL T2GMT(const char* source, const char* destination);
QUILLON_API char* QUILLON_CALL makeBuffer(const char* path);

/* Key files and file encryption */
QUILLON_API double QUILLON_CALL QCRYPT_makeKeys(const char* source, const char* key1, const char* key2,
                                                const char* key_text);
QUILLON_API double QUILLON_CALL QCRYPT_combineKeys(const char* output, const char* key1, const char* key2,
                                                   const char* key_text);
QUILLON_API double QUILLON_CALL QCRYPT_combineKeys2(const char* output, const char* first, const char* second);
QUILLON_API double QUILLON_CALL QCRYPT_encrypt(const char* source, const char* destination, const char* key);
QUILLON_API double QUILLON_CALL QCRYPT_encrypt2(const char* source, const char* destination, const char* key1,
                                                const char* key2);
QUILLON_API double QUILLON_CALL QCRYPT_decrypt(const char* destination, const char* source, const char* key);

/* Digests */
QUILLON_API char* QUILLON_CALL HASHmd5(const char* text);
QUILLON_API char* QUILLON_CALL HASHsha1(const char* text);

/* Windows */
QUILLON_API double QUILLON_CALL GUI_show_message(const char* text);
QUILLON_API double QUILLON_CALL GUI_show_question(const char* text);
QUILLON_API double QUILLON_CALL GUI_make_window(const char* title, const char* module, double width, double height);
QUILLON_API char* QUILLON_CALL GUI_make_window_notepad(const char* title, const char* module, double size,
                                                       const char* text);
QUILLON_API char* QUILLON_CALL GUI_get_string(const char* title, const char* module, double size, const char* text);

/* ZIP archives */
QUILLON_API double QUILLON_CALL UNZIP(const char* archive, const char* folder);
QUILLON_API double QUILLON_CALL ZIP(const char* archive, const char* folder);

#ifdef __cplusplus
}
#endif

#endif /* QUILLON_H */
