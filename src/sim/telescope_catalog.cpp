#include "sim/telescope_catalog.h"

#include <algorithm>
#include <cstdio>
#include <span>

namespace tarvi::sim {
namespace {

constexpr int ra(int hours, int minutes, int seconds)
{
    return hours * 3600 + minutes * 60 + seconds;
}

// The sign comes apart from the degrees so that -00 can be written.
constexpr int dec(char sign, int degrees, int minutes, int seconds)
{
    const int arcseconds = degrees * 3600 + minutes * 60 + seconds;
    return sign == '-' ? -arcseconds : arcseconds;
}

// Our own numbering of the brightest stars and a few guide stars.
constexpr CatalogObject stars[] = {
    {1, "SIRIUS", ra(6, 45, 9), dec('-', 16, 42, 58), -1.5, 0},
    {2, "CANOPUS", ra(6, 23, 57), dec('-', 52, 41, 44), -0.7, 0},
    {3, "ARCTURUS", ra(14, 15, 40), dec('+', 19, 10, 57), -0.1, 0},
    {4, "VEGA", ra(18, 36, 56), dec('+', 38, 47, 1), 0.0, 0},
    {5, "CAPELLA", ra(5, 16, 41), dec('+', 45, 59, 53), 0.1, 0},
    {6, "RIGEL", ra(5, 14, 32), dec('-', 8, 12, 6), 0.1, 0},
    {7, "PROCYON", ra(7, 39, 18), dec('+', 5, 13, 30), 0.4, 0},
    {8, "BETELGEUSE", ra(5, 55, 10), dec('+', 7, 24, 25), 0.5, 0},
    {9, "ALTAIR", ra(19, 50, 47), dec('+', 8, 52, 6), 0.8, 0},
    {10, "ALDEBARAN", ra(4, 35, 55), dec('+', 16, 30, 33), 0.9, 0},
    {11, "ANTARES", ra(16, 29, 24), dec('-', 26, 25, 55), 1.1, 0},
    {12, "SPICA", ra(13, 25, 12), dec('-', 11, 9, 41), 1.0, 0},
    {13, "POLLUX", ra(7, 45, 19), dec('+', 28, 1, 34), 1.1, 0},
    {14, "FOMALHAUT", ra(22, 57, 39), dec('-', 29, 37, 20), 1.2, 0},
    {15, "DENEB", ra(20, 41, 26), dec('+', 45, 16, 49), 1.3, 0},
    {16, "REGULUS", ra(10, 8, 22), dec('+', 11, 58, 2), 1.4, 0},
    {17, "POLARIS", ra(2, 31, 49), dec('+', 89, 15, 51), 2.0, 0},
    {18, "SIGMA OCT", ra(21, 8, 47), dec('-', 88, 57, 23), 5.4, 0},
};

constexpr CatalogObject sao[] = {
    {308, "POLARIS", ra(2, 31, 49), dec('+', 89, 15, 51), 2.0, 0},
    {40186, "CAPELLA", ra(5, 16, 41), dec('+', 45, 59, 53), 0.1, 0},
    {49941, "DENEB", ra(20, 41, 26), dec('+', 45, 16, 49), 1.3, 0},
    {67174, "VEGA", ra(18, 36, 56), dec('+', 38, 47, 1), 0.0, 0},
    {94027, "ALDEBARAN", ra(4, 35, 55), dec('+', 16, 30, 33), 0.9, 0},
    {100944, "ARCTURUS", ra(14, 15, 40), dec('+', 19, 10, 57), -0.1, 0},
    {113271, "BETELGEUSE", ra(5, 55, 10), dec('+', 7, 24, 25), 0.5, 0},
    {125122, "ALTAIR", ra(19, 50, 47), dec('+', 8, 52, 6), 0.8, 0},
    {131907, "RIGEL", ra(5, 14, 32), dec('-', 8, 12, 6), 0.1, 0},
    {151881, "SIRIUS", ra(6, 45, 9), dec('-', 16, 42, 58), -1.5, 0},
    {157923, "SPICA", ra(13, 25, 12), dec('-', 11, 9, 41), 1.0, 0},
    {184415, "ANTARES", ra(16, 29, 24), dec('-', 26, 25, 55), 1.1, 0},
};

// Our own numbering of well-known variables, at their mean brightness.
constexpr CatalogObject variables[] = {
    {1, "MIRA", ra(2, 19, 21), dec('-', 2, 58, 39), 3.0, 0},
    {2, "ALGOL", ra(3, 8, 10), dec('+', 40, 57, 20), 2.1, 0},
    {3, "DELTA CEP", ra(22, 29, 10), dec('+', 58, 24, 55), 3.8, 0},
    {4, "CHI CYG", ra(19, 50, 34), dec('+', 32, 54, 51), 4.2, 0},
    {5, "R LEO", ra(9, 47, 33), dec('+', 11, 25, 44), 5.8, 0},
    {6, "BETA LYR", ra(18, 50, 5), dec('+', 33, 21, 46), 3.5, 0},
    {7, "ETA AQL", ra(19, 52, 28), dec('+', 1, 0, 20), 3.9, 0},
    {8, "R CRB", ra(15, 48, 34), dec('+', 28, 9, 24), 5.9, 0},
};

constexpr CatalogObject messier[] = {
    {1, "SN REM", ra(5, 34, 32), dec('+', 22, 0, 52), 8.4, 6.0},
    {7, "OPEN CL", ra(17, 53, 51), dec('-', 34, 47, 34), 3.3, 80.0},
    {8, "DIF NEB", ra(18, 3, 37), dec('-', 24, 23, 12), 6.0, 90.0},
    {13, "GLOB CL", ra(16, 41, 41), dec('+', 36, 27, 35), 5.8, 20.0},
    {27, "PLAN NEB", ra(19, 59, 36), dec('+', 22, 43, 16), 7.4, 8.0},
    {31, "EX GAL", ra(0, 42, 44), dec('+', 41, 16, 9), 3.4, 178.0},
    {42, "DIF NEB", ra(5, 35, 17), dec('-', 5, 23, 28), 4.0, 85.0},
    {45, "OPEN CL", ra(3, 47, 24), dec('+', 24, 7, 0), 1.6, 110.0},
    {51, "EX GAL", ra(13, 29, 53), dec('+', 47, 11, 43), 8.4, 11.0},
    {57, "PLAN NEB", ra(18, 53, 35), dec('+', 33, 1, 45), 8.8, 1.4},
    {81, "EX GAL", ra(9, 55, 33), dec('+', 69, 3, 55), 6.9, 27.0},
    {101, "EX GAL", ra(14, 3, 13), dec('+', 54, 20, 56), 7.9, 29.0},
    {104, "EX GAL", ra(12, 40, 0), dec('-', 11, 37, 23), 8.0, 9.0},
};

constexpr CatalogObject ngc[] = {
    {104, "GLOB CL", ra(0, 24, 6), dec('-', 72, 4, 53), 4.1, 31.0},
    {224, "EX GAL", ra(0, 42, 44), dec('+', 41, 16, 9), 3.4, 178.0},
    {253, "EX GAL", ra(0, 47, 33), dec('-', 25, 17, 18), 7.1, 28.0},
    {869, "OPEN CL", ra(2, 19, 0), dec('+', 57, 8, 0), 5.3, 30.0},
    {884, "OPEN CL", ra(2, 22, 18), dec('+', 57, 8, 12), 6.1, 30.0},
    {891, "EX GAL", ra(2, 22, 33), dec('+', 42, 20, 57), 9.9, 14.0},
    {1976, "DIF NEB", ra(5, 35, 17), dec('-', 5, 23, 28), 4.0, 85.0},
    {4565, "EX GAL", ra(12, 36, 21), dec('+', 25, 59, 16), 9.6, 16.0},
    {5139, "GLOB CL", ra(13, 26, 47), dec('-', 47, 28, 46), 3.7, 36.0},
    {6543, "PLAN NEB", ra(17, 58, 33), dec('+', 66, 37, 59), 8.1, 0.3},
    {6960, "SN REM", ra(20, 45, 38), dec('+', 30, 42, 30), 7.0, 70.0},
    {7000, "DIF NEB", ra(20, 59, 17), dec('+', 44, 31, 44), 4.0, 120.0},
    {7293, "PLAN NEB", ra(22, 29, 39), dec('-', 20, 50, 14), 7.6, 16.0},
};

constexpr CatalogObject ic[] = {
    {434, "DIF NEB", ra(5, 41, 0), dec('-', 2, 27, 0), 7.3, 60.0},
    {1396, "OPEN CL", ra(21, 39, 6), dec('+', 57, 30, 0), 3.5, 89.0},
    {1805, "DIF NEB", ra(2, 33, 22), dec('+', 61, 26, 36), 6.5, 60.0},
    {2602, "OPEN CL", ra(10, 43, 0), dec('-', 64, 24, 0), 1.9, 50.0},
    {5146, "DIF NEB", ra(21, 53, 24), dec('+', 47, 16, 0), 7.2, 12.0},
};

constexpr CatalogObject ugc[] = {
    {5470, "EX GAL", ra(10, 8, 28), dec('+', 12, 18, 23), 11.2, 9.8},
    {6253, "EX GAL", ra(11, 13, 29), dec('+', 22, 9, 6), 12.6, 12.0},
    {9749, "EX GAL", ra(15, 9, 9), dec('+', 67, 13, 21), 11.9, 30.0},
    {10822, "EX GAL", ra(17, 20, 12), dec('+', 57, 54, 55), 10.9, 35.0},
    {12613, "EX GAL", ra(23, 28, 36), dec('+', 14, 44, 35), 12.6, 5.0},
};

std::span<const CatalogObject> table(TelescopeCatalog catalog)
{
    switch (catalog) {
    case TelescopeCatalog::star: return stars;
    case TelescopeCatalog::sao: return sao;
    case TelescopeCatalog::gcvs: return variables;
    case TelescopeCatalog::messier: return messier;
    case TelescopeCatalog::ngc: return ngc;
    case TelescopeCatalog::ic: return ic;
    case TelescopeCatalog::ugc: return ugc;
    }
    return {};
}

// "M31" runs the prefix and number together as the Messier numbers are
// always written; the others keep a blank between.
const char* prefix(TelescopeCatalog catalog)
{
    switch (catalog) {
    case TelescopeCatalog::star: return "STAR ";
    case TelescopeCatalog::sao: return "SAO ";
    case TelescopeCatalog::gcvs: return "GCVS ";
    case TelescopeCatalog::messier: return "M";
    case TelescopeCatalog::ngc: return "NGC ";
    case TelescopeCatalog::ic: return "IC ";
    case TelescopeCatalog::ugc: return "UGC ";
    }
    return "";
}

}  // namespace

std::optional<CatalogObject> findCatalogObject(TelescopeCatalog catalog, int number)
{
    const auto objects = table(catalog);
    const auto found = std::find_if(objects.begin(), objects.end(), [&](const auto& o) { return o.number == number; });
    if (found == objects.end())
        return std::nullopt;
    return *found;
}

std::string describeObject(TelescopeCatalog catalog, const CatalogObject& object)
{
    char text[96];
    if (object.sizeArcminutes > 0)
        std::snprintf(text, sizeof text, "%s%d %s MAG %.1f SZ%.1f'", prefix(catalog), object.number, object.name,
                      object.magnitude, object.sizeArcminutes);
    else
        std::snprintf(text, sizeof text, "%s%d %s MAG %.1f", prefix(catalog), object.number, object.name,
                      object.magnitude);
    return text;
}

}  // namespace tarvi::sim
