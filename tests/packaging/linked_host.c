/* A host that links the library through its import library instead of
 * binding exports at run time: the calls go through quillon.h. */
#include <stdio.h>
#include <string.h>

#include "quillon.h"

int main(void) {
  double sum = add(1.5, 2.25);
  const char* md5 = HASHmd5("abc");
  printf("add(1.5, 2.25) = %g, HASHmd5(\"abc\") = %s\n", sum, md5 ? md5 : "(null)");
  return sum == 3.75 && md5 != NULL && strcmp(md5, "900150983cd24fb0d6963f7d28e17f72") == 0 ? 0 : 1;
}
