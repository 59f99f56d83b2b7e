#include "fakes/http_request_test_cases.h"
