// An entry read by the size its archive declares: the scan lists it.
#include <zip.h>
void readAll(zip_t *z, char *out, zip_uint64_t declared) { zip_fread(zip_fopen_index(z, 0, 0), out, declared); }
