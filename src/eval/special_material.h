// Material configurations with a fixed value and scale, or an endgame
// evaluator, that replace the general material formula (bare kings, lone
// minor pieces, known drawish endings, the four positional endgames).
#pragma once

#include <cstdint>

#include "board/types.h"
#include "eval/endgame_evaluators.h"

// value is in material-row units (the material evaluation multiplies by 96),
// White's point of view. When evaluator is set, it supplies value and scale.
struct SpecialMaterialEntry {
    Key key;
    int32_t value;
    float scale;
    EndgameEvaluator evaluator;
};
static_assert(sizeof(SpecialMaterialEntry) == 24);

constexpr int SPECIAL_MATERIAL_ENTRIES = 65536;

// Direct-mapped by materialKey & (SPECIAL_MATERIAL_ENTRIES - 1); a slot
// matches only when its key equals the position's material key.
extern SpecialMaterialEntry SpecialMaterialTable[SPECIAL_MATERIAL_ENTRIES];

// The entry for a material key, or null when there is none.
inline const SpecialMaterialEntry* findSpecialMaterial(Key key) {
    const SpecialMaterialEntry& entry = SpecialMaterialTable[key & (SPECIAL_MATERIAL_ENTRIES - 1)];
    return entry.key == key ? &entry : nullptr;
}

// Fills the table from the list of configurations, each as given and with the
// colours swapped (value negated). Run once at start-up.
void buildSpecialMaterialTable();
