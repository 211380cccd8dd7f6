/* Proves the public header compiles as C. */
#include "orkv14.h"
int kv_c_host_compiles(IKvMailConnection2 *c) { return c->lpVtbl->Connect(c) == S_OK; }
