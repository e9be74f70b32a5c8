#include "demo-game/demo_music.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/music_output.h"

namespace velmo {

namespace {

// How the seams stay clean: every note's oscillators start at its own onset,
// and onsets fall on whole frames, so a note sounds the same wherever it is
// placed. The loop is rendered circularly (each note once where it starts and
// once a loop length earlier, so that what rings past the end is heard at the
// start). The opening ends with exactly the loop's last bar, and every other
// note of either piece is shortened to end inside its piece: what rings past
// the opening's end is then exactly what rings past the loop's end, which is
// what the loop's start already holds.

constexpr double kRate = kMusicSampleRate;
constexpr double kPi = 3.14159265358979323846;
constexpr double kBeat = 0.5;  // seconds; four beats to the bar
constexpr double kBar = 4 * kBeat;

enum class Voice { Bell, Pad, Bass };

struct Note {
  double start;   // seconds from the start of its piece
  double length;  // seconds, release included
  int midi;
  double amp;
  double pan;  // -1 left .. 1 right
  Voice voice;
};

struct Partial {
  double ratio;
  double amp;
  double decay;  // time constant in seconds; 0 = none
};

struct Timbre {
  std::vector<Partial> partials;
  double attack;
  double release;
};

// A small bell: nearly harmonic, the upper partials dying first.
const Timbre& bellTimbre() {
  static const Timbre timbre{{{1.0, 1.0, 1.1}, {2.0, 0.42, 0.55}, {3.01, 0.16, 0.32}, {4.17, 0.07, 0.22}, {5.43, 0.04, 0.14}},
                             0.004,
                             0.25};
  return timbre;
}

// A soft pad: a few falling harmonics, each from two slightly detuned
// oscillators that beat slowly against each other.
const Timbre& padTimbre() {
  static const Timbre timbre = [] {
    Timbre t{{}, 0.8, 0.8};
    for (int n = 1; n <= 5; ++n) {
      double amp = 0.5 / std::pow(double(n), 1.6);
      t.partials.push_back({n * 0.9988, amp, 7.0});
      t.partials.push_back({n * 1.0012, amp, 7.0});
    }
    return t;
  }();
  return timbre;
}

const Timbre& bassTimbre() {
  static const Timbre timbre{{{1.0, 1.0, 3.0}, {2.0, 0.3, 1.5}, {3.0, 0.08, 0.8}}, 0.15, 0.5};
  return timbre;
}

const Timbre& timbreOf(Voice voice) {
  switch (voice) {
    case Voice::Bell: return bellTimbre();
    case Voice::Pad: return padTimbre();
    case Voice::Bass: return bassTimbre();
  }
  return bellTimbre();
}

double midiHz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

int64_t toFrames(double seconds) { return int64_t(std::llround(seconds * kRate)); }

// Raised-cosine attack and release over a note of `length` frames.
double envelopeAt(int64_t frame, int64_t length, int64_t attack, int64_t release) {
  double e = 1.0;
  if (frame < attack) e *= 0.5 - 0.5 * std::cos(kPi * double(frame) / double(attack));
  int64_t fromEnd = length - frame;
  if (fromEnd < release) e *= 0.5 - 0.5 * std::cos(kPi * double(fromEnd) / double(release));
  return e;
}

// Adds a note into an interleaved stereo buffer whose first frame is
// `origin` frames after the start of the note's piece; only the part that
// falls inside the buffer is computed.
void renderNote(const Note& note, int64_t origin, std::vector<double>& out) {
  const Timbre& timbre = timbreOf(note.voice);
  int64_t bufferFrames = int64_t(out.size() / 2);
  int64_t start = toFrames(note.start) - origin;
  int64_t length = toFrames(note.length);
  int64_t first = std::max<int64_t>(0, -start);
  int64_t last = std::min<int64_t>(length, bufferFrames - start);
  if (first >= last) return;

  int64_t attack = std::min(toFrames(timbre.attack), length / 2);
  int64_t release = std::min(toFrames(timbre.release), length / 2);
  double angle = (note.pan + 1.0) * kPi / 4.0;
  double gainLeft = note.amp * std::cos(angle);
  double gainRight = note.amp * std::sin(angle);

  // Each partial as a rotating phasor and a decaying amplitude, advanced by
  // multiplication from the first frame needed.
  struct State {
    double c, s, stepC, stepS, level, fade;
  };
  std::vector<State> states;
  double hz = midiHz(note.midi);
  for (const Partial& p : timbre.partials) {
    double w = 2.0 * kPi * hz * p.ratio / kRate;
    if (w >= kPi) continue;
    double fade = p.decay > 0 ? std::exp(-1.0 / (p.decay * kRate)) : 1.0;
    states.push_back({std::cos(w * double(first)), std::sin(w * double(first)), std::cos(w), std::sin(w),
                      p.amp * std::pow(fade, double(first)), fade});
  }
  for (int64_t f = first; f < last; ++f) {
    double sum = 0;
    for (State& st : states) {
      sum += st.level * st.s;
      double c = st.c * st.stepC - st.s * st.stepS;
      st.s = st.s * st.stepC + st.c * st.stepS;
      st.c = c;
      st.level *= st.fade;
    }
    double v = sum * envelopeAt(f, length, attack, release);
    size_t at = size_t(start + f) * 2;
    out[at] += v * gainLeft;
    out[at + 1] += v * gainRight;
  }
}

struct Score {
  std::vector<Note> notes;
};

using Hits = std::vector<std::pair<double, int>>;  // (beat, midi)

void addChord(Score& score, const int (&chord)[3], double at, double length) {
  static const double kPans[3] = {-0.5, 0.1, 0.55};
  for (int i = 0; i < 3; ++i) score.notes.push_back({at, length, chord[i], 0.16, kPans[i], Voice::Pad});
}

void addBells(Score& score, const Hits& hits, double at) {
  int index = 0;
  for (auto [beat, midi] : hits) {
    double t = at + beat * kBeat;
    double pan = (index++ % 2) ? 0.35 : -0.35;
    score.notes.push_back({t, 2.6, midi, 0.34, pan, Voice::Bell});
    // Two echoes, answering from the other side, stand in for a room.
    score.notes.push_back({t + 1.5 * kBeat, 2.2, midi, 0.34 * 0.3, -pan * 0.8, Voice::Bell});
    score.notes.push_back({t + 3.0 * kBeat, 1.8, midi, 0.34 * 0.12, pan * 0.6, Voice::Bell});
  }
}

// High, quiet, wide: snowflakes.
void addSparkles(Score& score, const Hits& hits, double at) {
  for (auto [beat, midi] : hits) {
    double t = at + beat * kBeat;
    double pan = (midi % 2) ? 0.8 : -0.8;
    score.notes.push_back({t, 1.6, midi, 0.09, pan, Voice::Bell});
    score.notes.push_back({t + 1.5 * kBeat, 1.4, midi, 0.09 * 0.35, -pan, Voice::Bell});
  }
}

// One bar: a pad chord and a bass note that overlap the next bar a little,
// bells and sparkles.
struct Bar {
  int chord[3];
  int bass;
  Hits bells;
  Hits sparkles;
};

void addBar(Score& score, const Bar& bar, double at) {
  addChord(score, bar.chord, at, kBar + 0.6);
  score.notes.push_back({at, kBar + 0.4, bar.bass, 0.42, 0.0, Voice::Bass});
  addBells(score, bar.bells, at);
  addSparkles(score, bar.sparkles, at);
}

// Shortens every note so that it has ended by `end` seconds.
void endWithin(Score& score, double end) {
  std::vector<Note> kept;
  for (Note n : score.notes) {
    n.length = std::min(n.length, end - n.start);
    if (n.length >= 0.05) kept.push_back(n);
  }
  score.notes = kept;
}

// D minor: D F A, Bb, F, C, D minor, G minor, Bb, then A with a suspended
// fourth that leads back to D.
const Bar kLoopBars[8] = {
    {{50, 53, 57}, 38, {{0, 81}, {1, 77}, {2, 76}, {3, 74}}, {}},
    {{50, 53, 58}, 34, {{0, 77}, {1.5, 74}, {2, 70}, {3, 72}}, {{2.5, 98}}},
    {{48, 53, 57}, 41, {{0, 69}, {1, 72}, {2, 77}, {3, 76}}, {}},
    {{48, 52, 55}, 36, {{0, 79}, {2, 76}, {3, 74}}, {{1, 100}, {3.5, 93}}},
    {{50, 53, 57}, 38, {{0, 81}, {1, 86}, {2, 84}, {3, 81}}, {}},
    {{50, 55, 58}, 43, {{0, 82}, {1.5, 79}, {2, 74}, {3, 77}}, {{2.5, 101}}},
    {{50, 53, 58}, 34, {{0, 77}, {1, 74}, {2, 82}, {3, 81}}, {}},
    {{50, 52, 57}, 45, {{0, 76}, {2, 69}}, {{1, 93}}},
};

// The loop's bars 1-7: each ends inside the loop.
Score loopBody() {
  Score score;
  for (int i = 0; i < 7; ++i) addBar(score, kLoopBars[i], i * kBar);
  endWithin(score, kDemoLoopSeconds);
  return score;
}

// The last bar, shared by both pieces, placed to start at `at`.
Score lastBar(double at) {
  Score score;
  addBar(score, kLoopBars[7], at);
  return score;
}

// The opening: the D minor chord swelling out of silence under a few high
// flakes, a rising figure, Bb, then the loop's last bar.
Score introBody() {
  Score score;
  addChord(score, kLoopBars[0].chord, 0.0, 2 * kBar + 0.6);
  score.notes.push_back({kBar, kBar + 0.4, 38, 0.36, 0.0, Voice::Bass});
  addSparkles(score, {{1, 93}, {2.5, 98}, {3.5, 88}}, 0.0);
  addBells(score, {{0, 74}, {1, 76}, {2, 77}, {3, 81}}, kBar);
  addBar(score, {{50, 53, 58}, 34, {{0, 82}, {1.5, 81}, {3, 77}}, {{2.5, 98}}}, 2 * kBar);
  endWithin(score, kDemoIntroSeconds);
  return score;
}

void renderScore(const Score& score, int64_t origin, std::vector<double>& out) {
  for (const Note& n : score.notes) renderNote(n, origin, out);
}

Bytes toPcm(const std::vector<double>& mix, double gain) {
  Bytes out;
  out.reserve(mix.size() * 2);
  for (double v : mix) {
    double s = std::nearbyint(v * gain);
    s = std::clamp(s, -32767.0, 32767.0);
    appendLe16(out, uint16_t(int16_t(s)));
  }
  return out;
}

}  // namespace

void composeDemoMusic(Bytes& intro, Bytes& loop) {
  const int64_t loopFrames = int64_t(kDemoLoopSeconds) * kMusicSampleRate;
  const int64_t introFrames = int64_t(kDemoIntroSeconds) * kMusicSampleRate;

  std::vector<double> loopMix(size_t(loopFrames) * 2, 0.0);
  Score body = loopBody();
  Score ending = lastBar(7 * kBar);
  for (int64_t origin : {int64_t(0), loopFrames}) {
    renderScore(body, origin, loopMix);
    renderScore(ending, origin, loopMix);
  }

  std::vector<double> introMix(size_t(introFrames) * 2, 0.0);
  renderScore(introBody(), 0, introMix);
  renderScore(lastBar(double(kDemoIntroSeconds) - kBar), 0, introMix);

  // One gain for both pieces keeps the join exact; peaks at about -5 dBFS.
  double peak = 0;
  for (double v : loopMix) peak = std::max(peak, std::fabs(v));
  for (double v : introMix) peak = std::max(peak, std::fabs(v));
  double gain = peak > 0 ? 0.56 * 32767.0 / peak : 0.0;
  intro = toPcm(introMix, gain);
  loop = toPcm(loopMix, gain);
}

}  // namespace velmo
