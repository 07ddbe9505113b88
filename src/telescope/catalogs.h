#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tarvi {

// The catalog combo box of the objects page; the empty last item stands for
// coordinates taken from the object list.
inline constexpr std::array<std::string_view, 9> catalogItems{"STAR", "SAO", "GCVS", "Messier", "NGC",
                                                              "CNGC", "IC",  "UGC",  ""};
inline constexpr int emptyCatalogItem = 8;

inline constexpr std::string_view objectNumberRefusedMessage = "Object number is not a number.  Operation cancelled.";
inline constexpr std::string_view goToUnavailableMessage = "GO TO coordinates not available...";
inline constexpr std::string_view goToUnavailableCaption = "I'm not going anywhere like this...";
inline constexpr std::string_view cannotSlewCaption = "Cannot Slew to the current object";
inline constexpr std::string_view syncQuestion = "Are you sure you want to SYNC?";
inline constexpr std::string_view syncCaption = "Sync";

// A catalog's selection command (empty: none, as for Messier) and the prefix
// of its object command; every prefix ends in a blank.
struct CatalogCommands {
    std::string_view selection;
    std::string_view objectPrefix;
};
// By name, exactly and case-sensitively; nothing for any other name.
std::optional<CatalogCommands> catalogCommands(std::string_view catalog);

// What "Get" sends for a catalog and an object number.
struct CatalogRequest {
    std::string selection;  // empty: nothing to send before the object command
    std::string object;     // empty when the catalog is none of the eight names
    // Between sending ":LI#" and reading its reply. Star numbers 901 to 909
    // are the planets, whose positions the telescope works out before it
    // answers; the page waits for those numbers in every catalog.
    int objectInfoWaitMs = 0;
};
// Nothing when the number is empty or holds anything but decimal digits; the
// page then shows objectNumberRefusedMessage.
std::optional<CatalogRequest> catalogRequest(std::string_view catalog, std::string_view objectNumber);

// The ":LI#" reply refuses the object when it begins with "Too"; the page
// shows the reply itself.
bool objectInfoRefused(std::string_view reply);

// The object list hands back "%-25s %-8s %-9s"; the page takes the name from
// the first 25 characters, the R.A. from position 26 and the Dec. from 35.
struct ListedObject {
    std::string name;
    std::string ra;
    std::string dec;
};
ListedObject listedObject(std::string_view selection);

// The enabled buttons and shown texts of the objects page.
struct ObjectsPageState {
    int catalogIndex = 0;  // combo selection; -1 when none
    std::string catalog{catalogItems[0]};
    std::string objectNumber;
    std::string ra;
    std::string dec;
    std::string listedName;  // edit 5065
    bool getEnabled = false;
    bool goToEnabled = false;
    bool syncEnabled = false;

    bool operator==(const ObjectsPageState&) const = default;
};

// How the state moves; each takes the state before and gives the one after.
// Fresh, as the page is initialised: "STAR" selected, every button off.
ObjectsPageState objectsPageInitialised();
ObjectsPageState afterCatalogChange(ObjectsPageState state, int index);
// "Get" comes on unless the empty item is selected, where it stays as it is.
ObjectsPageState afterNumberChange(ObjectsPageState state, std::string_view number);
// "Get" pressed: the coordinates are cleared before anything is asked.
ObjectsPageState afterGetStarted(ObjectsPageState state);
ObjectsPageState afterObjectFound(ObjectsPageState state, std::string_view ra, std::string_view dec);
ObjectsPageState afterObjectRefused(ObjectsPageState state);
// "List" pressed: "Get" goes off and stays off after Cancel.
ObjectsPageState afterListOpened(ObjectsPageState state);
ObjectsPageState afterListChosen(ObjectsPageState state, std::string_view selection);

// What "Go To" does with the coordinates shown.
enum class GoToCheck {
    missing,    // goToUnavailableMessage
    malformed,  // nothing is sent and nothing shown
    ready,
};
GoToCheck goToCheck(std::string_view ra, std::string_view dec);

}  // namespace tarvi
