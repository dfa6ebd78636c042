#pragma once

namespace kelpie {

class Program;

// The commands behind the controls, one per control id (see HandleControlEvent).
void CheckFileSelection(Program& program);  // lists 3 and 4
void SelectJob(Program& program);           // list 14
void ToggleServer(Program& program);        // 7 "StartServer" / "StopServer"
void ToggleConnection(Program& program);    // 8 "Connect" / "Disconnect"
void AddFileToList(Program& program);       // 11
// Offers the files "Add File to List" read beside the main loop, once ready.
void OfferReadFiles(Program& program);
void RefreshView(Program& program, int refreshButton);  // 5 and 6
void CompareSelectedFiles(Program& program);            // 12
void SynchronizeOrAbort(Program& program);              // 13

}  // namespace kelpie
