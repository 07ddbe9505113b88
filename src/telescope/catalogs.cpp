#include "telescope/catalogs.h"

#include <algorithm>

#include "telescope/coordinates.h"
#include "telescope/text_shape.h"

namespace tarvi {

namespace {

struct CatalogEntry {
    std::string_view name;
    CatalogCommands commands;
};

constexpr std::array<CatalogEntry, 8> catalogTable{{
    {"STAR", {":Ls 0#", ":LS "}},
    {"SAO", {":Ls 1#", ":LS "}},
    {"GCVS", {":Ls 2#", ":LS "}},
    {"CNGC", {":Lo 0#", ":LC "}},
    {"NGC", {":Lo 0#", ":LC "}},
    {"IC", {":Lo 1#", ":LC "}},
    {"UGC", {":Lo 2#", ":LC "}},
    {"Messier", {"", ":LM "}},
}};

// 901 to 909 read as numbers, so leading zeros ("0905") count too.
bool slowObjectNumber(std::string_view digits)
{
    const auto first = digits.find_first_not_of('0');
    if (first == std::string_view::npos)
        return false;
    const std::string_view significant = digits.substr(first);
    return significant.size() == 3 && significant[0] == '9' && significant[1] == '0' && significant[2] != '0';
}

}  // namespace

std::optional<CatalogCommands> catalogCommands(std::string_view catalog)
{
    for (const CatalogEntry& entry : catalogTable) {
        if (entry.name == catalog)
            return entry.commands;
    }
    return std::nullopt;
}

std::optional<CatalogRequest> catalogRequest(std::string_view catalog, std::string_view objectNumber)
{
    if (objectNumber.empty() || !std::all_of(objectNumber.begin(), objectNumber.end(), text_shape::isDigit))
        return std::nullopt;
    CatalogRequest request;
    if (const auto commands = catalogCommands(catalog)) {
        request.selection = commands->selection;
        request.object = std::string(commands->objectPrefix) + std::string(objectNumber) + "#";
    }
    request.objectInfoWaitMs = slowObjectNumber(objectNumber) ? 1000 : 0;
    return request;
}

bool objectInfoRefused(std::string_view reply)
{
    return reply.starts_with("Too");
}

ListedObject listedObject(std::string_view selection)
{
    const auto part = [selection](std::size_t at, std::size_t count) {
        return std::string(at < selection.size() ? selection.substr(at, count) : std::string_view());
    };
    return {part(0, 25), part(26, 8), part(35, 9)};
}

ObjectsPageState objectsPageInitialised()
{
    return ObjectsPageState{};
}

ObjectsPageState afterCatalogChange(ObjectsPageState state, int index)
{
    state.catalogIndex = index;
    state.catalog = index >= 0 && index < static_cast<int>(catalogItems.size()) ? catalogItems[std::size_t(index)]
                                                                                : std::string_view();
    state.ra.clear();
    state.dec.clear();
    state.goToEnabled = false;
    state.listedName.clear();
    return state;
}

ObjectsPageState afterNumberChange(ObjectsPageState state, std::string_view number)
{
    state.objectNumber = number;
    state.ra.clear();
    state.dec.clear();
    state.goToEnabled = false;
    if (state.catalogIndex != emptyCatalogItem)
        state.getEnabled = true;
    return state;
}

ObjectsPageState afterGetStarted(ObjectsPageState state)
{
    state.ra.clear();
    state.dec.clear();
    return state;
}

ObjectsPageState afterObjectFound(ObjectsPageState state, std::string_view ra, std::string_view dec)
{
    state.ra = ra;
    state.dec = dec;
    state.syncEnabled = true;
    state.goToEnabled = true;
    return state;
}

ObjectsPageState afterObjectRefused(ObjectsPageState state)
{
    state.ra.clear();
    state.dec.clear();
    state.goToEnabled = false;
    return state;
}

ObjectsPageState afterListOpened(ObjectsPageState state)
{
    state.getEnabled = false;
    return state;
}

ObjectsPageState afterListChosen(ObjectsPageState state, std::string_view selection)
{
    const ListedObject object = listedObject(selection);
    state.catalogIndex = emptyCatalogItem;
    state.catalog.clear();
    state.objectNumber.clear();
    state.syncEnabled = false;
    state.ra = object.ra;
    state.dec = object.dec;
    state.goToEnabled = true;
    state.listedName = object.name;
    return state;
}

GoToCheck goToCheck(std::string_view ra, std::string_view dec)
{
    if (ra.empty() || dec.empty())
        return GoToCheck::missing;
    return validateObjectsPageCoordinates(ra, dec) ? GoToCheck::ready : GoToCheck::malformed;
}

}  // namespace tarvi
