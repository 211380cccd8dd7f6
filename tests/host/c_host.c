/* A C host: proves the public header works from C and drives a connection
   through the C vtable layout. */
#include "orkv14.h"

int kv_c_host_connect_twice(IClassFactory *factory, LONG *code) {
    IKvMailConnection2 *connection = 0;
    HRESULT hr = factory->lpVtbl->CreateInstance(factory, 0, &IID_IKvCDOSYSSendConnection, (void **)&connection);
    if (FAILED(hr)) return -1;
    connection->lpVtbl->Connect(connection);
    hr = connection->lpVtbl->Connect(connection);
    connection->lpVtbl->GetErrorInformation(connection, code, 0);
    connection->lpVtbl->Disconnect(connection);
    connection->lpVtbl->Release(connection);
    return hr == E_UNEXPECTED ? 1 : 0;
}
