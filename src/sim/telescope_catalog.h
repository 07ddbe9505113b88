#pragma once

#include <optional>
#include <string>

namespace tarvi::sim {

// The catalogs the telescope carries. The star catalog in use is chosen with
// ":Ls", the deep-sky one with ":Lo"; Messier objects have a command of their
// own.
enum class TelescopeCatalog { star, sao, gcvs, messier, ngc, ic, ugc };

// One object of the built-in tables, at its J2000 place.
struct CatalogObject {
    int number = 0;
    const char* name = "";  // a star's proper name, or the kind of a deep-sky object
    int raSeconds = 0;      // seconds of time
    int decArcseconds = 0;
    double magnitude = 0;
    double sizeArcminutes = 0;  // 0 for a star
};

// Nothing when the table has no such object.
std::optional<CatalogObject> findCatalogObject(TelescopeCatalog catalog, int number);

// The object as the telescope describes it, e.g. "M31 EX GAL MAG 3.4 SZ178.0'"
// or "SAO 308 POLARIS MAG 2.0".
std::string describeObject(TelescopeCatalog catalog, const CatalogObject& object);

}  // namespace tarvi::sim
