// Any bytes as the text of a production recipe. A recipe is read whole or
// refused in one line that names the file and a line of it; a recipe that
// is read has what each of its steps needs, and serial and calibration
// places that a step writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "session/Recipe.h"

namespace {

constexpr const char* kPath = "line.brenwick";

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Recipe recipe;
    std::string error;
    if (!ParseRecipe(text, kPath, recipe, error)) {
        Require(error.rfind(std::string(kPath) + ":", 0) == 0);
        Require(error.find('\n') == std::string::npos);
        return 0;
    }
    Require(recipe.deviceRow >= 0 && recipe.deviceRow < kDeviceCount);
    Require(!recipe.steps.empty());
    Require(!recipe.Has(RecipeStep::Flash) || !recipe.flashFile.empty());
    Require(!recipe.Has(RecipeStep::Lock) || recipe.hasLock);
    if (recipe.serial.enabled) {
        const RecipeStep step =
            recipe.serial.place.inFlash ? RecipeStep::Flash : RecipeStep::Eeprom;
        Require(recipe.Has(step) && recipe.serial.step > 0);
        Require(recipe.serial.format.Length() >= 1 &&
                recipe.serial.format.Length() <= kMaxSerialWidth);
    }
    return 0;
}
