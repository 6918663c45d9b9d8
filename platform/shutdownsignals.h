#pragma once

class QCoreApplication;

namespace Platform {

// Ends the application's event loop with code 0 when the process is asked to terminate
// (SIGTERM, SIGINT, SIGHUP on Unix), so that the program shuts down as after "Quit".
void quitOnTerminationRequest(QCoreApplication *app);

}
