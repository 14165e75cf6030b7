#include "ClientLibrary.h"
#include "LocalMachineClient.h"

ClientLibrary& PlatformClient() {
    static LocalMachineClient client;
    return client;
}
