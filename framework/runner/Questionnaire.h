#pragma once
// Questionnaire: the items of one questionnaire as the participant answers
// them, one after another, and the scores computed from the answers.
//
// Built in: NASA-TLX (raw: six scales 0-100 in steps of 5 with their standard
// anchors and descriptions; with `weighted` followed by the 15 pairwise
// choices of the weighting), SUS (ten statements, 1-5, strongly disagree to
// strongly agree) and the final ranking of the techniques (one item per
// place, each choosing among the techniques not placed yet). A study file's
// own Likert items are built with Likert().
//
// Every answer is text in the answers file: a number for a scale, the chosen
// id for a choice. Item ids are stable: they are the answers file's "item"
// column, and what resume and the scores look up.
#include <map>
#include <string>
#include <vector>

struct QuestionnaireItem {
    enum Kind { Scale, Choice };
    Kind kind = Scale;
    std::string id;
    std::string text;          // the question or statement
    std::string description;   // a longer explanation, may be empty
    int minimum = 1, maximum = 5, step = 1;     // Scale
    std::string lowAnchor, highAnchor;          // Scale: words at either end
    std::vector<std::string> choices;           // Choice: ids offered
    std::vector<std::string> choiceLabels;      // Choice: what the buttons say
    bool optional = false;     // may be left out even where the questionnaire may not
};

struct Questionnaire {
    std::string id;            // "tlx", "sus", "ranking" or the study file's name
    std::string title;
    std::string instructions;
    std::vector<QuestionnaireItem> items;
    bool skippable = false;    // only when the study file allows it

    static const char* const TlxId;
    static const char* const SusId;
    static const char* const RankingId;

    static Questionnaire Tlx(bool weighted);
    static Questionnaire Sus();
    // `points` answers 1..points, labelled with the two anchors.
    static Questionnaire Likert(const std::string& id, const std::string& title,
                                const std::vector<std::pair<std::string, std::string>>& idAndText, int points,
                                const std::string& lowAnchor, const std::string& highAnchor);
    static Questionnaire Ranking(const std::vector<std::string>& techniques);

    // The choices left for item `index` given the answers so far: a ranking
    // place offers only the techniques not placed before it.
    std::vector<std::string> ChoicesLeft(size_t index, const std::map<std::string, std::string>& answers) const;
    // Index of the first item without an answer; items.size() when complete.
    size_t FirstUnanswered(const std::map<std::string, std::string>& answers) const;
    // True when `value` is a valid answer to item `index`.
    bool Accepts(size_t index, const std::string& value, const std::map<std::string, std::string>& answers) const;

    // Scores from an item -> value map; false when an item is missing or out
    // of range. Raw TLX: the mean of the six scales. Weighted TLX: each
    // scale's rating times the number of pairs it won, summed, over 15.
    static bool TlxRaw(const std::map<std::string, std::string>& answers, double& score);
    static bool TlxWeighted(const std::map<std::string, std::string>& answers, double& score);
    // SUS 0-100: 2.5 × (sum of (answer - 1) for odd items + (5 - answer) for even).
    static bool SusScore(const std::map<std::string, std::string>& answers, double& score);
};
