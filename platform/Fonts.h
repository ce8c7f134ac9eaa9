#pragma once
// Maps the Windows font names that stored titles and windows use
// ("Arial Cyr", "Times New Roman", "MS Sans Serif", ...) to installed fonts.
namespace fonts {
void installSubstitutions();
}
