#include "framework/runner/Questionnaire.h"

#include "framework/runner/CsvFormat.h"

#include <algorithm>
#include <cmath>

const char* const Questionnaire::TlxId = "tlx";
const char* const Questionnaire::SusId = "sus";
const char* const Questionnaire::RankingId = "ranking";

namespace {

struct TlxScale {
    const char* id;
    const char* name;
    const char* question;
    const char* description;
    const char* low;
    const char* high;
};

const TlxScale kTlx[6] = {
    {"mental", "Mental Demand", "How mentally demanding was the task?",
     "How much mental and perceptual activity was required (e.g. thinking, deciding, calculating, remembering, "
     "looking, searching)? Was the task easy or demanding, simple or complex, exacting or forgiving?",
     "Very Low", "Very High"},
    {"physical", "Physical Demand", "How physically demanding was the task?",
     "How much physical activity was required (e.g. pushing, pulling, turning, controlling, activating)? Was the "
     "task easy or demanding, slow or brisk, slack or strenuous, restful or laborious?",
     "Very Low", "Very High"},
    {"temporal", "Temporal Demand", "How hurried or rushed was the pace of the task?",
     "How much time pressure did you feel due to the rate or pace at which the tasks or task elements occurred? "
     "Was the pace slow and leisurely or rapid and frantic?",
     "Very Low", "Very High"},
    // Its anchors run the other way round, so that a high rating is always
    // a high workload.
    {"performance", "Performance", "How successful were you in accomplishing what you were asked to do?",
     "How successful do you think you were in accomplishing the goals of the task? How satisfied were you with "
     "your performance in accomplishing these goals?",
     "Perfect", "Failure"},
    {"effort", "Effort", "How hard did you have to work to accomplish your level of performance?",
     "How hard did you have to work (mentally and physically) to accomplish your level of performance?",
     "Very Low", "Very High"},
    {"frustration", "Frustration", "How insecure, discouraged, irritated, stressed, and annoyed were you?",
     "How insecure, discouraged, irritated, stressed and annoyed versus secure, gratified, content, relaxed and "
     "complacent did you feel during the task?",
     "Very Low", "Very High"},
};

const char* const kSus[10] = {
    "I think that I would like to use this system frequently.",
    "I found the system unnecessarily complex.",
    "I thought the system was easy to use.",
    "I think that I would need the support of a technical person to be able to use this system.",
    "I found the various functions in this system were well integrated.",
    "I thought there was too much inconsistency in this system.",
    "I would imagine that most people would learn to use this system very quickly.",
    "I found the system very cumbersome to use.",
    "I felt very confident using the system.",
    "I needed to learn a lot of things before I could get going with this system.",
};

bool Rating(const std::map<std::string, std::string>& answers, const std::string& id, double low, double high,
            double& value)
{
    const auto it = answers.find(id);
    return it != answers.end() && CsvFormat::ToNumber(it->second, value) && value >= low && value <= high;
}

std::string PairId(int i, int j)
{
    return std::string("weight_") + kTlx[i].id + "_" + kTlx[j].id;
}

}  // namespace

Questionnaire Questionnaire::Tlx(bool weighted)
{
    Questionnaire q;
    q.id = TlxId;
    q.title = "Workload (NASA-TLX)";
    q.instructions = "Rate the task you have just done on each scale.";
    for (const TlxScale& s : kTlx) {
        QuestionnaireItem item;
        item.id = s.id;
        item.text = std::string(s.name) + ": " + s.question;
        item.description = s.description;
        item.minimum = 0;
        item.maximum = 100;
        item.step = 5;
        item.lowAnchor = s.low;
        item.highAnchor = s.high;
        q.items.push_back(item);
    }
    if (weighted)
        for (int i = 0; i < 6; ++i)
            for (int j = i + 1; j < 6; ++j) {
                QuestionnaireItem item;
                item.kind = QuestionnaireItem::Choice;
                item.id = PairId(i, j);
                item.text = "Which of the two contributed more to the workload of the task?";
                item.choices = {kTlx[i].id, kTlx[j].id};
                item.choiceLabels = {kTlx[i].name, kTlx[j].name};
                q.items.push_back(item);
            }
    return q;
}

Questionnaire Questionnaire::Sus()
{
    Questionnaire q;
    q.id = SusId;
    q.title = "Usability (SUS)";
    q.instructions = "How much do you agree with each statement?";
    for (int k = 0; k < 10; ++k) {
        QuestionnaireItem item;
        item.id = "sus" + std::to_string(k + 1);
        item.text = kSus[k];
        item.lowAnchor = "Strongly disagree";
        item.highAnchor = "Strongly agree";
        q.items.push_back(item);
    }
    return q;
}

Questionnaire Questionnaire::Likert(const std::string& id, const std::string& title,
                                    const std::vector<std::pair<std::string, std::string>>& idAndText, int points,
                                    const std::string& lowAnchor, const std::string& highAnchor)
{
    Questionnaire q;
    q.id = id;
    q.title = title;
    for (const auto& it : idAndText) {
        QuestionnaireItem item;
        item.id = it.first;
        item.text = it.second;
        item.maximum = points;
        item.lowAnchor = lowAnchor;
        item.highAnchor = highAnchor;
        q.items.push_back(item);
    }
    return q;
}

Questionnaire Questionnaire::Ranking(const std::vector<std::string>& techniques)
{
    Questionnaire q;
    q.id = RankingId;
    q.title = "Ranking of the techniques";
    q.instructions = "Choose the technique you liked best, then the next, and so on.";
    for (size_t k = 0; k < techniques.size(); ++k) {
        QuestionnaireItem item;
        item.kind = QuestionnaireItem::Choice;
        item.id = "rank_" + std::to_string(k + 1);
        item.text = "Place " + std::to_string(k + 1) + ":";
        item.choices = techniques;
        item.choiceLabels = techniques;
        q.items.push_back(item);
    }
    return q;
}

std::vector<std::string> Questionnaire::ChoicesLeft(size_t index, const std::map<std::string, std::string>& answers) const
{
    const QuestionnaireItem& item = items.at(index);
    if (id != RankingId) return item.choices;
    std::vector<std::string> left;
    for (const std::string& c : item.choices) {
        bool placed = false;
        for (size_t k = 0; k < index; ++k) {
            const auto it = answers.find(items[k].id);
            placed |= it != answers.end() && it->second == c;
        }
        if (!placed) left.push_back(c);
    }
    return left;
}

size_t Questionnaire::FirstUnanswered(const std::map<std::string, std::string>& answers) const
{
    for (size_t k = 0; k < items.size(); ++k)
        if (!answers.count(items[k].id)) return k;
    return items.size();
}

bool Questionnaire::Accepts(size_t index, const std::string& value,
                            const std::map<std::string, std::string>& answers) const
{
    if (index >= items.size()) return false;
    const QuestionnaireItem& item = items[index];
    if (item.kind == QuestionnaireItem::Choice) {
        const std::vector<std::string> left = ChoicesLeft(index, answers);
        return std::find(left.begin(), left.end(), value) != left.end();
    }
    double v = 0.0;
    if (!CsvFormat::ToNumber(value, v) || v < item.minimum || v > item.maximum) return false;
    const double steps = (v - item.minimum) / item.step;
    return steps == std::floor(steps);
}

bool Questionnaire::TlxRaw(const std::map<std::string, std::string>& answers, double& score)
{
    double sum = 0.0;
    for (const TlxScale& s : kTlx) {
        double v = 0.0;
        if (!Rating(answers, s.id, 0.0, 100.0, v)) return false;
        sum += v;
    }
    score = sum / 6.0;
    return true;
}

bool Questionnaire::TlxWeighted(const std::map<std::string, std::string>& answers, double& score)
{
    int wins[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 6; ++i)
        for (int j = i + 1; j < 6; ++j) {
            const auto it = answers.find(PairId(i, j));
            if (it == answers.end()) return false;
            if (it->second == kTlx[i].id) ++wins[i];
            else if (it->second == kTlx[j].id) ++wins[j];
            else return false;
        }
    double sum = 0.0;
    for (int i = 0; i < 6; ++i) {
        double v = 0.0;
        if (!Rating(answers, kTlx[i].id, 0.0, 100.0, v)) return false;
        sum += v * wins[i];
    }
    score = sum / 15.0;
    return true;
}

bool Questionnaire::SusScore(const std::map<std::string, std::string>& answers, double& score)
{
    double sum = 0.0;
    for (int k = 1; k <= 10; ++k) {
        double v = 0.0;
        if (!Rating(answers, "sus" + std::to_string(k), 1.0, 5.0, v)) return false;
        sum += k % 2 == 1 ? v - 1.0 : 5.0 - v;
    }
    score = 2.5 * sum;
    return true;
}
