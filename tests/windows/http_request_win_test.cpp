#include <gtest/gtest.h>

// The live cases, on Winsock.
#include "fakes/http_request_test_cases.h"
