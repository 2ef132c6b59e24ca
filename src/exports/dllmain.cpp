// The Windows entry point: every notification succeeds, and the library has
// nothing of its own to set up or tear down (all static data starts fixed).
#if defined(_WIN32)
extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return 1;
}
#endif
