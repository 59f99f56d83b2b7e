#include "service/client_identification_win.h"

#include "service/adapter_list_win.h"
#include "service/device_io_win.h"
#include "service/wmi_query_win.h"

ClientIdentification ComputeSystemClientIdentification(bool queryBios) {
  SystemDeviceIo devices;
  SystemWmiQuery wmi;
  SystemAdapterList adapters;
  return ComputeClientIdentification(devices, wmi, adapters, queryBios);
}
