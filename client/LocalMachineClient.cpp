#include "LocalMachineClient.h"
