#include "ClientLibrary.h"
#include "WindowsClient.h"

ClientLibrary& PlatformClient() {
    static WindowsClient client;
    return client;
}
