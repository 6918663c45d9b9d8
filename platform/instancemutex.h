#pragma once

namespace Platform {

// Makes the running gateway visible to other processes under the name "VQGatewayMutex" where
// the platform has named mutexes (Windows). Elsewhere nothing stands in for it.
void publishInstanceMutex();

}
