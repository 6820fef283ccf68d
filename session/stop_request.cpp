#include "session/stop_request.h"

void StopRequest::Request()
{
    if (!requested_.exchange(true)) {
        raised_.Raise();
    }
}
