#include "rmhost/pin_metadata.h"

#include <algorithm>
#include <array>

namespace rmhost {

namespace {

// Pitch inputs are in the bank's own scale: 0.5 is 440 Hz and every 0.1 is one octave.
constexpr std::string_view kPitchUnit = "1/10 octave";

constexpr std::array<ListItemMeaning, 16> kPolyItems{{
    {"1", "one voice at a time: every new note fades the sounding one out"},
    {"2", "up to 2 voices at once"},
    {"3", "up to 3 voices at once"},
    {"4", "up to 4 voices at once"},
    {"5", "up to 5 voices at once"},
    {"6", "up to 6 voices at once"},
    {"7", "up to 7 voices at once"},
    {"8", "up to 8 voices at once"},
    {"9", "up to 9 voices at once"},
    {"10", "up to 10 voices at once"},
    {"11", "up to 11 voices at once"},
    {"12", "up to 12 voices at once"},
    {"13", "up to 13 voices at once"},
    {"14", "up to 14 voices at once"},
    {"15", "up to 15 voices at once"},
    {"16", "up to 16 voices at once"},
}};

constexpr std::array<ListItemMeaning, 39> kOscsItems{{
    {"1", "a single oscillator: one clean discrete-summation tone"},
    {"2", "2 oscillators per voice"},
    {"3", "3 oscillators per voice"},
    {"4", "4 oscillators per voice"},
    {"5", "5 oscillators per voice"},
    {"6", "6 oscillators per voice"},
    {"7", "7 oscillators per voice"},
    {"8", "8 oscillators per voice"},
    {"9", "9 oscillators per voice"},
    {"10", "10 oscillators per voice"},
    {"11", "11 oscillators per voice"},
    {"12", "12 oscillators per voice"},
    {"13", "13 oscillators per voice"},
    {"14", "14 oscillators per voice"},
    {"15", "15 oscillators per voice"},
    {"16", "16 oscillators per voice"},
    {"17", "17 oscillators per voice"},
    {"18", "18 oscillators per voice"},
    {"19", "19 oscillators per voice"},
    {"20", "20 oscillators per voice"},
    {"22", "22 oscillators per voice"},
    {"24", "24 oscillators per voice"},
    {"26", "26 oscillators per voice"},
    {"28", "28 oscillators per voice"},
    {"30", "30 oscillators per voice"},
    {"35", "35 oscillators per voice"},
    {"40", "40 oscillators per voice"},
    {"45", "45 oscillators per voice"},
    {"50", "50 oscillators per voice"},
    {"60", "60 oscillators per voice"},
    {"70", "70 oscillators per voice"},
    {"80", "80 oscillators per voice"},
    {"90", "90 oscillators per voice"},
    {"100", "100 oscillators per voice"},
    {"120", "120 oscillators per voice"},
    {"140", "140 oscillators per voice"},
    {"160", "160 oscillators per voice"},
    {"180", "180 oscillators per voice"},
    {"200", "200 oscillators per voice: the densest and most costly bank"},
}};

constexpr std::array<ListItemMeaning, 2> kRetriggerItems{{
    {"off", "every note starts the bank from fresh phases, turned by rotate and the incr steps"},
    {"on", "a note continues the previous note's oscillators where they were, for seamless legato"},
}};

constexpr std::array<ListItemMeaning, 2> kFullAttackItems{{
    {"off", "releasing the key during attack or hold starts the release at once"},
    {"on", "attack and hold always run to their end, even for a short tap"},
}};

constexpr std::array<ListItemMeaning, 2> kNoReleaseItems{{
    {"off", "releasing the key starts the release"},
    {"on",
     "releasing the key is ignored: the sound stays at the sustain level until the next "
     "note"},
}};

constexpr std::array<ListItemMeaning, 5> kLfoAlignItems{{
    {"off", "no LFO"},
    {"normal", "the LFO is mixed into the envelope, so it also sounds between notes"},
    {"bottom mod", "tremolo that dips below the envelope and scales with it"},
    {"center mod", "tremolo around the envelope, widest at half level"},
    {"top mod", "tremolo that pushes the envelope down from the top, strongest at full level"},
}};

constexpr std::array<PinMetadata, 20> kSwarmPins{{
    {"fc_1",
     "Pitch of the bank: the first oscillator sounds at 440 Hz at 0.5, an octave higher for "
     "every 0.1; notes set it",
     kPitchUnit,
     0.0,
     1.0,
     {}},
    {"fm1_1",
     "Spacing of each oscillator's partials as a multiple of its frequency: 1 makes a "
     "harmonic series, 2 only odd harmonics, other ratios bell-like inharmonic spectra",
     "x frequency",
     0.0,
     8.0,
     {}},
    {"N",
     "Number of partials added to each carrier: 0 is a pure sine, more partials a brighter "
     "tone, as far as the amplitude ratio a_1 lets them sound; the bank drops those above "
     "21 kHz",
     "partials",
     0.0,
     100.0,
     {}},
    {"a_1",
     "Amplitude of each partial relative to the one before, in the first oscillator: 0 is a "
     "pure sine, 0.5 mellow, 0.9 bright and buzzy",
     "ratio",
     0.0,
     1.0,
     {}},
    {"gate",
     "Voice gate: while above 0 the voice sounds; when it falls to 0 the voice is released and "
     "goes quiet; notes set it",
     "",
     0.0,
     1.0,
     {}},
    {"poly",
     "Most voices that sound at once across all clones; a note beyond it fades the oldest "
     "voice out within 10 ms",
     "voices", 1.0, 16.0, kPolyItems},
    {"sync",
     "Note trigger: a rise above 0.1 starts a note and tunes the bank to the other pins' "
     "values at that moment; notes pulse it",
     "",
     0.0,
     1.0,
     {}},
    {"Wave_1",
     "Which side of each carrier the partials lie on: 1 above it (a bright rising series), 0 "
     "below it (mirrored downwards, folding back past 0 Hz), 0.5 both alike",
     "blend",
     0.0,
     1.0,
     {}},
    {"rotate",
     "Turns all carriers' starting phases against their partials when retrigger is off; the "
     "waveform at the note start changes, the spectrum not",
     "half-turns",
     -1.0,
     1.0,
     {}},
    {"incr",
     "Step by which the starting phase turns from one note to the next, shared by all voices, "
     "so that repeated notes do not start identically (retrigger off)",
     "half-turns/note",
     -1.0,
     1.0,
     {}},
    {"pitchspread",
     "Detune between neighbouring oscillators of the bank: 0 is one pitch, 0.0001 about "
     "1.2 cents per oscillator for a slow chorus, larger values a wide cluster",
     kPitchUnit,
     0.0,
     0.02,
     {}},
    {"fm1_2", "Not used by the module; it has no effect on the sound", "", 0.0, 1.0, {}},
    {"a_2",
     "How far the partial amplitude ratio falls across the bank: the last oscillator's ratio is "
     "a_1 x (1 - a_2), so the upper oscillators of a spread bank are darker",
     "fraction",
     0.0,
     1.0,
     {}},
    {"pitchShuffle",
     "Bends how the oscillators are placed over the spread: 0 evenly, above 0 crowded near the "
     "bank's pitch with a few far out, below 0 crowded towards the top",
     "log10 exponent",
     -1.0,
     1.0,
     {}},
    {"wind",
     "Starts every oscillator as if it had already run for this many minutes, which sets the "
     "phase pattern, and so the attack and beating, at note start",
     "minutes",
     0.0,
     1.0,
     {}},
    {"phasespread",
     "Phase offsets between neighbouring oscillators at note start: 0 lines them up for a hard, "
     "peaky onset, larger values scatter them for a smoother, noisier start",
     "",
     0.0,
     1.0,
     {}},
    {"oscs",
     "Oscillators per voice: one gives a clean tone, many a dense chorus or cloud once "
     "pitchspread detunes them; each costs time",
     "oscillators", 1.0, 200.0, kOscsItems},
    {"retrigger",
     "Whether a note starts from fresh phases (off) or continues the previous note's "
     "oscillators (on)",
     "", 0.0, 1.0, kRetriggerItems},
    {"outputl",
     "Left output: the voice's sine-phase copy of the sound, levelled so that its peaks stay "
     "near 0.5",
     "",
     -1.0,
     1.0,
     {}},
    {"outputr",
     "Right output: the cosine-phase copy of the same sound, which widens it in stereo",
     "",
     -1.0,
     1.0,
     {}},
}};

constexpr std::array<PinMetadata, 18> kVellumPins{{
    {"Gate",
     "Note gate: a rise starts the attack, a fall starts the release; any value above 0 counts "
     "as held",
     "",
     0.0,
     1.0,
     {}},
    {"Attack",
     "Speed of the rise to full level: the attack lasts about 1/Attack seconds, so 1 is a "
     "1-second swell, 1000 a 1 ms snap and 0 an instant start",
     "segments/s",
     0.0,
     1000.0,
     {}},
    {"Hold",
     "Speed of the hold at full level after the attack: it lasts 1/Hold seconds; 0 skips the "
     "hold",
     "segments/s",
     0.0,
     1000.0,
     {}},
    {"Decay",
     "Speed of the fall from full level to the sustain level: it lasts about 1/Decay seconds; 0 "
     "jumps straight to sustain",
     "segments/s",
     0.0,
     1000.0,
     {}},
    {"Sustain",
     "Level held while the key stays down, 1 being the attack's peak; 0 makes a percussive "
     "envelope that dies away during the decay",
     "level",
     0.0,
     1.0,
     {}},
    {"Release",
     "Speed of the fall to silence after the key is released: it lasts about 1/Release seconds",
     "segments/s",
     0.0,
     1000.0,
     {}},
    {"Overall Level",
     "Gain of the whole envelope, and so of the voice it shapes; 1 leaves the envelope's 0 to 1 "
     "as it is",
     "gain",
     0.0,
     10.0,
     {}},
    {"AttackForm",
     "Curve of the attack: 0 a straight line, above 0 a slow start that rushes at the end, "
     "below 0 a fast start that eases into the peak",
     "curvature",
     -1.0,
     1.0,
     {}},
    {"DecayForm",
     "Curve of the decay: 0 a straight line, above 0 a long lingering top and a quick drop, "
     "below 0 a quick drop and a long tail",
     "curvature",
     -1.0,
     1.0,
     {}},
    {"ReleaseForm",
     "Curve of the release: 0 a straight line, above 0 a lingering start and a quick end, below "
     "0 a quick drop and a long soft tail",
     "curvature",
     -1.0,
     1.0,
     {}},
    {"FullAttack",
     "Whether attack and hold always run to their end (on) or a release cuts them short (off)", "",
     0.0, 1.0, kFullAttackItems},
    {"NoRelease",
     "Whether releasing the key is ignored (on), leaving the note at its sustain level until "
     "the next one",
     "", 0.0, 1.0, kNoReleaseItems},
    {"LfoAmt",
     "Depth of the LFO's tremolo: 0 switches the LFO off, 1 swings the level fully",
     "depth",
     0.0,
     1.0,
     {}},
    {"LfoFreq", "Speed of the LFO; it restarts with every note", "Hz", 0.0, 20.0, {}},
    {"LfoPhase",
     "Where in its cycle the LFO starts at each note: 0.25 starts a quarter cycle in; whole "
     "numbers are all the same start",
     "cycles",
     0.0,
     1.0,
     {}},
    {"LfoAlign",
     "How the LFO meets the envelope: off, mixed in, or a tremolo at the bottom, centre or top "
     "of the envelope",
     "", 0.0, 4.0, kLfoAlignItems},
    {"Signal Out",
     "The envelope signal, normally 0 to Overall Level; multiply a voice by it",
     "",
     0.0,
     1.0,
     {}},
    {"dbmode",
     "Output law: 0 linear; 1 decibel-like, which adds up to 24 dB of extra fall towards "
     "silence so that decays and releases sound even and natural",
     "",
     0.0,
     1.0,
     {}},
}};

constexpr std::array kModules{
    ModuleMetadata{"swarm", kSwarmPins},
    ModuleMetadata{"vellum", kVellumPins},
};

}  // namespace

const PinMetadata* ModuleMetadata::find(std::string_view name) const {
  const auto it =
      std::find_if(pins.begin(), pins.end(), [&](const PinMetadata& p) { return p.pin == name; });
  return it == pins.end() ? nullptr : &*it;
}

const ModuleMetadata* findModuleMetadata(std::string_view moduleId) {
  for (const ModuleMetadata& module : kModules) {
    if (module.moduleId == moduleId) return &module;
  }
  return nullptr;
}

std::span<const ModuleMetadata> allModuleMetadata() {
  return kModules;
}

}  // namespace rmhost
