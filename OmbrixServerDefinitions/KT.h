#ifndef KT_H
#define KT_H

// Enumerations shared by every deliverable of the server.
namespace KT {

enum MessageType {
    ErrorMessage = 0,
    BugMessage = 1,
    WarningMessage = 2,
    InformationMessage = 3,
    SuccessMessage = 4,
    ClientErrorMessage = 5,
    ClientBugMessage = 6,
    ClientWarningMessage = 7,
    ClientInformationMessage = 8,
    ClientSuccessMessage = 9
};

enum OperatingSystem {
    NoOperatingSystem = 0,
    Linux32 = 1,
    Linux64 = 2,
    Windows32 = 3,
    Windows64 = 4
};

// Kind of reply a frame carries, as shown in the connection monitor.
enum ActionType {
    NegotiationAction = 0,
    ClientUpdateAction = 1,
    AuthenticationAction = 2,
    RequestAction = 3
};

}

#endif
