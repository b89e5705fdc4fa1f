#pragma once
// SimulatedParticipant: what a person would do in a study, drawn from a
// seeded generator, so that a whole study can be run without one and the
// same seed gives the same files.
//
// Lasso: the convex outline of the target's particles as they lie on the
// screen, pushed out from its centre by a margin (a person draws around a
// target, not through it: 6 % of its size plus 8 pixels), every vertex
// jittered by up to 3 pixels, and its edges cut into steps of at most 12
// pixels, as a pointer reports them.
//
// Completion time, in seconds, documented so that a pilot's analysis knows
// what it was given:
//   time = (2.5 + 1.2 · lassos + outline length / 900 px/s) · learning · technique · e^N(0, 0.15²)
// where lassos counts the first and each corrective one, learning is
// max(0.8, 1 - 0.03 · (measured trials of the technique before this one)),
// and technique is the study's factor of the technique (1 unless set).
//
// Questionnaires: TLX scales at 20 + 60 · (1 - F1 mean) + 2 · (time mean - 10),
// each scale with N(0, 8²) noise, rounded to the 5-point grid within 0-100;
// SUS items from a liking of 0.5 + (F1 mean - 0.7), odd items agreeing and
// even items disagreeing with it, with noise; a ranking by that liking. A
// Likert item answers the middle ± 1. A break is waited out exactly. The
// participant form: a whole number drawn evenly from its range, a choice
// drawn evenly from its choices, every field answered.
//
// Cost: linear in the target's particles (the hull sorts them).
#include "framework/runner/Questionnaire.h"
#include "framework/runner/StudyDefinition.h"

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

class SimulatedParticipant {
public:
    using Point = std::pair<double, double>;  // window pixels

    SimulatedParticipant(std::uint64_t seed, int participantId);

    // The lasso a person draws around `target`; empty for fewer than 3 points.
    std::vector<Point> LassoAround(const std::vector<Point>& target);
    // Seconds for a trial as the model above says.
    double CompletionTime(int lassos, double outlineLength, int earlierMeasuredTrials, double techniqueFactor);
    // Item id -> answer for the whole questionnaire, given what the
    // participant experienced with the technique (means over its trials).
    std::map<std::string, std::string> Answer(const Questionnaire& q, double meanF1, double meanTime,
                                              const std::map<std::string, double>& likingByTechnique);
    // Field id -> value for the participant form.
    std::map<std::string, std::string> FillForm(const std::vector<FormField>& fields);
    static double Length(const std::vector<Point>& outline);

private:
    std::mt19937_64 random;
    double Uniform(double low, double high);
    double Normal(double sd);
};
