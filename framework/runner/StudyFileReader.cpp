#include "framework/runner/StudyFileReader.h"

#include "geometry/TechniqueRegistry.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

#include <cctype>
#include <cmath>
#include <map>

namespace {

const double kDegree = 3.14159265358979323846 / 180.0;

// Reads one document; keeps the reader, the file's folder and the problem list
// together so every check below can report with the current line.
class Reading {
public:
    Reading(const std::string& path, StudyDefinition& study)
        : path(path), study(study), folder(QFileInfo(QString::fromStdString(path)).absoluteDir())
    {
    }

    std::vector<std::string> Run()
    {
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::ReadOnly)) {
            problems.push_back(path + ": cannot open the study file: " + file.errorString().toStdString());
            return problems;
        }
        xml.setDevice(&file);
        study.path = path;
        study.resultsDir = folder.absoluteFilePath("results").toStdString();

        if (!xml.readNextStartElement()) {
            if (!SyntaxProblem()) problems.push_back(path + ": the file holds no <study> element");
            return problems;
        }
        if (xml.name() != QLatin1String("study")) {
            Problem("the root element is <" + xml.name().toString().toStdString() + ">, expected <study>");
            return problems;
        }
        ReadStudy();
        if (SyntaxProblem()) return problems;
        CheckReferences();
        return problems;
    }

private:
    void Problem(const std::string& what, qint64 line = -1)
    {
        if (line < 0) line = xml.lineNumber();
        problems.push_back(path + ":" + std::to_string(line) + ": " + what);
    }

    // A malformed document is reported once, where the parser gave up.
    bool SyntaxProblem()
    {
        if (!xml.hasError()) return false;
        if (!syntaxReported) {
            syntaxReported = true;
            Problem("malformed XML: " + xml.errorString().toStdString());
        }
        return true;
    }

    std::string Element() const { return "<" + xml.name().toString().toStdString() + ">"; }

    // Unknown attributes are mostly typos ("targetlabel"); silently ignoring
    // one would run a study different from the one the researcher wrote.
    void OnlyAttributes(std::initializer_list<const char*> allowed)
    {
        for (const QXmlStreamAttribute& a : xml.attributes()) {
            bool known = false;
            for (const char* name : allowed) known = known || a.name() == QLatin1String(name);
            if (!known)
                Problem("unknown attribute \"" + a.name().toString().toStdString() + "\" on " + Element());
        }
    }

    bool Has(const char* name) const { return xml.attributes().hasAttribute(QLatin1String(name)); }
    QString Text(const char* name) const { return xml.attributes().value(QLatin1String(name)).toString().trimmed(); }

    bool Number(const char* name, double& value)
    {
        bool ok = false;
        value = Text(name).toDouble(&ok);
        if (!ok || !std::isfinite(value)) {
            Problem("attribute \"" + std::string(name) + "\" of " + Element() + " is not a number: \"" +
                    Text(name).toStdString() + "\"");
            return false;
        }
        return true;
    }

    // true/yes/1 or false/no/0, in any letter case.
    bool Flag(const char* name, bool& value)
    {
        const QString f = Text(name).toLower();
        if (f == "true" || f == "yes" || f == "1") value = true;
        else if (f == "false" || f == "no" || f == "0") value = false;
        else {
            Problem(std::string(name) + " \"" + f.toStdString() + "\" is neither true nor false");
            return false;
        }
        return true;
    }

    std::string Path(const QString& relative) const
    {
        return QDir::cleanPath(folder.absoluteFilePath(relative)).toStdString();
    }

    // Skips the rest of an element whose children we do not accept, reporting
    // each child element and any text once.
    void NoChildren()
    {
        const std::string parent = Element();
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isEndElement()) return;
            if (xml.isCharacters() && !xml.isWhitespace())
                Problem("unexpected text inside " + parent);
            if (xml.isStartElement()) {
                Problem("unexpected element " + Element() + " inside " + parent);
                xml.skipCurrentElement();
            }
        }
    }

    // Steps to the next <child> of the element being read, reporting any
    // text and any other element inside it (which is skipped); false at the
    // element's end.
    bool NextChild(const char* parent, const char* child)
    {
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isEndElement()) return false;
            if (xml.isCharacters() && !xml.isWhitespace())
                Problem(std::string("unexpected text inside <") + parent + ">");
            if (!xml.isStartElement()) continue;
            if (xml.name() == QLatin1String(child)) return true;
            Problem("unknown element " + Element() + " inside <" + parent + ">; expected <" + child + ">");
            xml.skipCurrentElement();
        }
        return false;
    }

    void ReadStudy()
    {
        OnlyAttributes({"name", "results", "allowZoom", "cloudPointSize", "cloudOpacity", "targetDuringTrial",
                        "instructionDuringTrial", "nameTechnique"});
        study.name = Text("name").toStdString();
        if (Has("results")) {
            if (Text("results").isEmpty()) Problem("attribute \"results\" of <study> is empty");
            else study.resultsDir = Path(Text("results"));
        }
        if (Has("allowZoom")) Flag("allowZoom", study.allowZoom);
        if (Has("targetDuringTrial")) Flag("targetDuringTrial", study.targetDuringTrial);
        if (Has("instructionDuringTrial")) Flag("instructionDuringTrial", study.instructionDuringTrial);
        if (Has("nameTechnique")) Flag("nameTechnique", study.nameTechnique);
        double v = 0.0;
        if (Has("cloudPointSize") && Number("cloudPointSize", v)) {
            if (v < 1.0 || v > 16.0) Problem("cloudPointSize " + Text("cloudPointSize").toStdString() + " is not between 1 and 16 pixels");
            else study.cloudPointSize = static_cast<float>(v);
        }
        if (Has("cloudOpacity") && Number("cloudOpacity", v)) {
            if (!(v > 0.0 && v <= 1.0)) Problem("cloudOpacity " + Text("cloudOpacity").toStdString() + " is not above 0 and at most 1");
            else study.cloudOpacity = static_cast<float>(v);
        }
        const qint64 studyLine = xml.lineNumber();
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isEndElement()) break;
            if (xml.isCharacters() && !xml.isWhitespace()) Problem("unexpected text inside <study>");
            if (!xml.isStartElement()) continue;
            if (xml.name() == QLatin1String("dataset")) ReadDataset();
            else if (xml.name() == QLatin1String("block")) ReadBlock();
            else if (xml.name() == QLatin1String("trial")) ReadTrial(false, nullptr, {}, -1, -1, false);
            else if (xml.name() == QLatin1String("questionnaire")) ReadQuestionnaire(-1, {});
            else if (xml.name() == QLatin1String("break")) ReadBreak(-1);
            else if (xml.name() == QLatin1String("form")) ReadForm();
            else {
                Problem("unknown element " + Element() +
                        " inside <study>; expected <dataset>, <block>, <trial>, <questionnaire>, <break> or <form>");
                xml.skipCurrentElement();
            }
        }
        if (xml.hasError()) return;
        CheckEndAndBreaks();
        // A mistyped <trial> has been reported already; "no trials" would only repeat it.
        if (study.trials.empty() && problems.empty()) Problem("the study has no trials", studyLine);
    }

    void ReadDataset()
    {
        StudyDatasetEntry d;
        d.line = static_cast<int>(xml.lineNumber());
        OnlyAttributes({"id", "builtin", "file"});
        d.id = Text("id").toStdString();
        if (d.id.empty()) Problem("<dataset> needs an \"id\"");
        else if (datasetLines.count(d.id))
            Problem("dataset id \"" + d.id + "\" is already used on line " + std::to_string(datasetLines[d.id]));
        const bool builtIn = !Text("builtin").isEmpty(), file = !Text("file").isEmpty();
        if (builtIn == file) Problem("<dataset> needs exactly one of \"builtin\" (a built-in name) and \"file\" (a path)");
        if (builtIn) d.builtIn = Text("builtin").toStdString();
        if (file) d.file = Path(Text("file"));
        if (!d.id.empty() && !datasetLines.count(d.id)) datasetLines[d.id] = d.line;
        study.datasets.push_back(d);
        NoChildren();
    }

    // The technique attributes of a block or trial: "technique" (a
    // registered name or counterbalanced) and "techniques" (two or more
    // registered names, counterbalanced). False, with a problem, when they
    // say nothing usable.
    bool Technique(TechniqueChoice& choice, std::vector<std::string>& names)
    {
        const TechniqueRegistry& registry = TechniqueRegistry::Instance();
        const bool listed = Has("techniques");
        const std::string text = Text("technique").toStdString();
        if (Has("technique") && text != "counterbalanced" && listed) {
            Problem("\"techniques\" on " + Element() + " needs technique=\"counterbalanced\" or no \"technique\"");
            return false;
        }
        if (listed) {
            names.clear();
            for (const QString& w : Text("techniques").split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const std::string name = w.toStdString();
                if (!registry.Find(name)) {
                    Problem("technique \"" + name + "\" in \"techniques\" on " + Element() +
                            " is not registered (" + registry.Names() + ")");
                    return false;
                }
                if (std::find(names.begin(), names.end(), name) != names.end()) {
                    Problem("technique \"" + name + "\" is listed twice in \"techniques\" on " + Element());
                    return false;
                }
                names.push_back(name);
            }
            if (names.size() < 2) {
                Problem("\"techniques\" on " + Element() + " needs two or more techniques to counterbalance");
                return false;
            }
            choice = TechniqueChoice::Counterbalanced;
            return true;
        }
        if (text == "counterbalanced") {
            choice = TechniqueChoice::Counterbalanced;
            names = {"density", "cylinder"};
        } else if (registry.Find(text)) {
            choice = text == "density" ? TechniqueChoice::Density
                     : text == "cylinder" ? TechniqueChoice::Cylinder : TechniqueChoice::Other;
            names = {text};
        } else {
            Problem("technique \"" + text + "\" on " + Element() + " is not one of " + registry.Names() +
                    ", counterbalanced");
            return false;
        }
        return true;
    }

    void ReadBlock()
    {
        const qint64 line = xml.lineNumber();
        OnlyAttributes({"technique", "techniques", "order"});
        bool shuffle = false;
        if (Has("order")) {
            if (Text("order") == QLatin1String("random")) shuffle = true;
            else if (Text("order") != QLatin1String("fixed"))
                Problem("order \"" + Text("order").toStdString() + "\" of <block> is neither fixed nor random");
        }
        const int block = study.blockCount++;
        TechniqueChoice technique = TechniqueChoice::Density;
        std::vector<std::string> names;
        bool techniqueOk = false;
        if (!Has("technique") && !Has("techniques")) Problem("<block> needs a \"technique\"");
        else techniqueOk = Technique(technique, names);
        const int group = (techniqueOk && technique == TechniqueChoice::Counterbalanced) ? study.groupCount++ : -1;
        const size_t before = study.trials.size();
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isEndElement()) break;
            if (xml.isCharacters() && !xml.isWhitespace()) Problem("unexpected text inside <block>");
            if (!xml.isStartElement()) continue;
            if (xml.name() == QLatin1String("trial")) ReadTrial(true, techniqueOk ? &technique : nullptr, names, group, block, shuffle);
            else if (xml.name() == QLatin1String("questionnaire")) ReadQuestionnaire(block, names);
            else if (xml.name() == QLatin1String("break")) {
                if (techniqueOk && names.size() < 2)
                    Problem("a <break> inside a block of one technique has no second run to rest before; "
                            "put it between blocks");
                ReadBreak(block);
            } else {
                Problem("unknown element " + Element() +
                        " inside <block>; expected <trial>, <questionnaire> or <break>");
                xml.skipCurrentElement();
            }
        }
        if (!xml.hasError() && study.trials.size() == before) Problem("<block> holds no trials", line);
    }

    void ReadTrial(bool inBlock, const TechniqueChoice* blockTechnique, const std::vector<std::string>& blockNames,
                   int group, int block, bool shuffle)
    {
        StudyTrialEntry t;
        t.block = block;
        t.shuffle = shuffle;
        t.line = static_cast<int>(xml.lineNumber());
        OnlyAttributes({"name", "dataset", "targetLabel", "targetFile", "practice", "technique", "techniques",
                        "threshold", "instruction"});
        t.name = Has("name") ? Text("name").toStdString() : "line " + std::to_string(t.line);
        t.dataset = Text("dataset").toStdString();
        if (t.dataset.empty()) Problem("<trial> needs a \"dataset\"");

        const bool label = Has("targetLabel"), file = Has("targetFile");
        if (label == file) Problem("<trial> needs exactly one of \"targetLabel\" and \"targetFile\"");
        if (label) {
            bool ok = false;
            t.targetLabel = Text("targetLabel").toInt(&ok);
            if (!ok || t.targetLabel < 1) {
                Problem("targetLabel \"" + Text("targetLabel").toStdString() +
                        "\" is not a structure label (1, 2, ...; 0 marks noise)");
                t.targetLabel = -1;
            }
        }
        if (file) {
            if (Text("targetFile").isEmpty()) Problem("attribute \"targetFile\" of <trial> is empty");
            else t.targetFile = Path(Text("targetFile"));
        }

        if (Has("practice")) Flag("practice", t.practice);

        if (Has("technique") || Has("techniques")) {
            TechniqueChoice own;
            std::vector<std::string> names;
            if (Technique(own, names)) {
                if (blockTechnique && (own != *blockTechnique || names != blockNames))
                    Problem("the trial's technique differs from its block's; leave it out inside a block");
                t.technique = own;
                t.techniques = names;
            }
        } else if (blockTechnique) {
            t.technique = *blockTechnique;
            t.techniques = blockNames;
        } else if (!inBlock) {
            Problem("<trial> outside a <block> needs a \"technique\" (density, cylinder or counterbalanced)");
        }
        if (group >= 0) t.group = group;
        else if (!inBlock && t.technique == TechniqueChoice::Counterbalanced) t.group = study.groupCount++;

        if (Has("threshold")) {
            double v = 1.0;
            if (Number("threshold", v)) {
                if (v <= 0.0) Problem("threshold must be greater than 0");
                else t.startThreshold = static_cast<float>(v);
            }
        }
        t.instruction = xml.attributes().value(QLatin1String("instruction")).toString().toStdString();

        bool viewSeen = false;
        while (NextChild("trial", "view")) {
            if (viewSeen) Problem("<trial> has more than one <view>");
            viewSeen = true;
            ReadView(t.view);
        }
        study.trials.push_back(t);
    }

    void ReadView(StartView& view)
    {
        OnlyAttributes({"azimuth", "elevation", "rotation", "zoom"});
        view.given = true;
        const bool angles = Has("azimuth") || Has("elevation");
        if (angles && Has("rotation")) Problem("<view> takes either azimuth/elevation or rotation, not both");
        if (angles) {
            double azimuth = 0.0, elevation = 0.0;
            if (Has("azimuth")) Number("azimuth", azimuth);
            if (Has("elevation")) Number("elevation", elevation);
            // Turn about the screen's vertical axis first, then tilt about its
            // horizontal axis, as a researcher would turn a model in hand.
            view.rotation = osg::Quat(azimuth * kDegree, osg::Vec3d(0, 1, 0)) *
                            osg::Quat(elevation * kDegree, osg::Vec3d(1, 0, 0));
        } else if (Has("rotation")) {
            const QStringList parts = Text("rotation").split(QLatin1Char(' '), Qt::SkipEmptyParts);
            double q[4] = {0, 0, 0, 1};
            bool ok = parts.size() == 4;
            for (int i = 0; ok && i < 4; ++i) {
                q[i] = parts[i].toDouble(&ok);
                ok = ok && std::isfinite(q[i]);
            }
            const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
            if (!ok) Problem("rotation \"" + Text("rotation").toStdString() + "\" is not four numbers \"x y z w\"");
            else if (length < 1e-9) Problem("rotation is the zero quaternion");
            else view.rotation = osg::Quat(q[0] / length, q[1] / length, q[2] / length, q[3] / length);
        }
        if (Has("zoom")) {
            double zoom = 1.0;
            if (Number("zoom", zoom)) {
                if (zoom <= 0.0) Problem("zoom must be greater than 0");
                else view.zoom = zoom;
            }
        }
        NoChildren();
    }

    // A questionnaire inside block `block` (whose techniques are
    // `techniques`), or with block -1 directly inside <study>: at the end.
    void ReadQuestionnaire(int block, const std::vector<std::string>& techniques)
    {
        StudyQuestionnaireEntry q;
        q.line = static_cast<int>(xml.lineNumber());
        q.block = block;
        OnlyAttributes({"type", "after", "skippable", "weighted", "id", "title", "points", "low", "high"});
        const std::string type = Text("type").toStdString();
        bool ok = true;
        if (block < 0) {
            q.placement = StudyQuestionnaireEntry::AtEnd;
            if (Has("after")) Problem("\"after\" is for a <questionnaire> inside a <block>; one directly inside <study> comes at the end");
        } else {
            const QString after = Has("after") ? Text("after") : QStringLiteral("technique");
            if (after == QLatin1String("technique")) q.placement = StudyQuestionnaireEntry::AfterTechnique;
            else if (after == QLatin1String("block")) q.placement = StudyQuestionnaireEntry::AfterBlock;
            else {
                Problem("after \"" + after.toStdString() + "\" of <questionnaire> is neither technique nor block");
                ok = false;
            }
        }
        bool weighted = false;
        if (Has("weighted") && !Flag("weighted", weighted)) ok = false;
        if (Has("weighted") && type != Questionnaire::TlxId) Problem("\"weighted\" is for type=\"tlx\" only");
        for (const char* own : {"id", "title", "points", "low", "high"})
            if (Has(own) && type != "likert")
                Problem("\"" + std::string(own) + "\" is for type=\"likert\" only");

        bool skippable = false;
        if (Has("skippable") && !Flag("skippable", skippable)) ok = false;

        // The attributes are all read: the children move the reader on.
        std::vector<std::pair<std::string, std::string>> items;
        if (type == "likert") {
            ReadLikertItems(items);
        } else {
            NoChildren();
        }
        if (type == Questionnaire::TlxId) {
            q.questionnaire = Questionnaire::Tlx(weighted);
        } else if (type == Questionnaire::SusId) {
            q.questionnaire = Questionnaire::Sus();
        } else if (type == Questionnaire::RankingId) {
            std::vector<std::string> ranked = techniques;
            if (block < 0)
                for (const StudyTrialEntry& t : study.trials)
                    for (const std::string& name : t.techniques)
                        if (std::find(ranked.begin(), ranked.end(), name) == ranked.end()) ranked.push_back(name);
            if (ranked.size() < 2) {
                Problem("a ranking needs two or more techniques to rank; " +
                            std::string(block < 0 ? "the trials before it use " : "its block uses ") +
                            (ranked.empty() ? "none" : "only " + ranked.front()),
                        q.line);
                ok = false;
            } else if (q.placement == StudyQuestionnaireEntry::AfterTechnique) {
                Problem("a ranking compares the block's techniques: it needs after=\"block\"", q.line);
                ok = false;
            }
            q.questionnaire = Questionnaire::Ranking(ranked);
        } else if (type == "likert") {
            if (!ReadLikert(q, items, q.line)) ok = false;
        } else {
            Problem("<questionnaire> needs a type: tlx, sus, likert or ranking" +
                        (type.empty() ? std::string() : " (not \"" + type + "\")"),
                    q.line);
            ok = false;
        }
        q.questionnaire.skippable = skippable;
        if (!ok) return;
        // Answers are told apart by block, technique and questionnaire id.
        for (const StudyQuestionnaireEntry& other : study.questionnaires)
            if (other.block == q.block && other.questionnaire.id == q.questionnaire.id) {
                Problem("questionnaire \"" + q.questionnaire.id + "\" is already asked " +
                            (q.block < 0 ? "at the end" : "in this block") + " (line " + std::to_string(other.line) +
                            "); give a Likert questionnaire its own id",
                        q.line);
                return;
            }
        study.questionnaires.push_back(q);
    }

    // The <item> children of a Likert questionnaire; the element's own
    // attributes are taken first, as the reader moves past them.
    void ReadLikertItems(std::vector<std::pair<std::string, std::string>>& items)
    {
        likertId = Text("id").toStdString();
        likertTitle = Text("title").toStdString();
        likertLow = Text("low").toStdString();
        likertHigh = Text("high").toStdString();
        likertPoints = 5;
        likertPointsOk = true;
        if (Has("points")) {
            bool ok = false;
            likertPoints = Text("points").toInt(&ok);
            if (!ok || likertPoints < 2 || likertPoints > kMostLikertPoints) {
                Problem("points \"" + Text("points").toStdString() + "\" of <questionnaire> is not a whole number from 2 to " +
                        std::to_string(kMostLikertPoints));
                likertPointsOk = false;
            }
        }
        std::map<std::string, int> seen;
        while (NextChild("questionnaire", "item")) {
            const int line = static_cast<int>(xml.lineNumber());
            OnlyAttributes({"id", "text"});
            const std::string id = Text("id").toStdString(), text = Text("text").toStdString();
            if (!ColumnSafe(id)) Problem("<item> needs an \"id\" of letters, digits and _ (not \"" + id + "\")");
            else if (seen.count(id))
                Problem("item id \"" + id + "\" is already used on line " + std::to_string(seen[id]));
            if (text.empty()) Problem("<item> needs a \"text\"");
            if (ColumnSafe(id) && !seen.count(id) && !text.empty()) items.push_back({id, text});
            seen.emplace(id, line);
            NoChildren();
        }
    }

    bool ReadLikert(StudyQuestionnaireEntry& q, const std::vector<std::pair<std::string, std::string>>& items, int line)
    {
        bool ok = likertPointsOk;
        if (!ColumnSafe(likertId) || likertId == Questionnaire::TlxId || likertId == Questionnaire::SusId ||
            likertId == Questionnaire::RankingId) {
            Problem("a Likert <questionnaire> needs an \"id\" of letters, digits and _ other than tlx, sus and ranking" +
                        (likertId.empty() ? std::string() : " (not \"" + likertId + "\")"),
                    line);
            ok = false;
        }
        if (items.empty()) {
            Problem("a Likert <questionnaire> needs one or more <item id=\"...\" text=\"...\"/>", line);
            ok = false;
        }
        q.questionnaire = Questionnaire::Likert(likertId, likertTitle.empty() ? likertId : likertTitle, items,
                                                likertPoints, likertLow.empty() ? "Strongly disagree" : likertLow,
                                                likertHigh.empty() ? "Strongly agree" : likertHigh);
        return ok;
    }

    // Directly inside <study> (block -1), or inside a block: between its runs.
    void ReadBreak(int block)
    {
        StudyBreakEntry b;
        b.line = static_cast<int>(xml.lineNumber());
        b.block = block;
        b.afterTrials = study.trials.size();
        OnlyAttributes({"seconds", "text"});
        b.text = Has("text") ? Text("text").toStdString() : std::string("Time for a short break.");
        bool ok = true;
        if (!Has("seconds")) {
            Problem("<break> needs \"seconds\", the shortest rest before the participant may go on");
            ok = false;
        } else if (Number("seconds", b.seconds) && b.seconds < 0.0) {
            Problem("seconds of <break> must not be negative");
            ok = false;
        }
        NoChildren();
        if (ok) study.breaks.push_back(b);
    }

    void ReadForm()
    {
        if (formLine > 0) Problem("the study has more than one <form> (the first is on line " + std::to_string(formLine) + ")");
        const bool first = formLine == 0;
        formLine = static_cast<int>(xml.lineNumber());
        OnlyAttributes({});
        std::map<std::string, int> seen;
        int fields = 0;
        while (NextChild("form", "field")) {
            FormField f;
            ++fields;
            if (ReadField(f) && first) {
                if (seen.count(f.id)) Problem("field id \"" + f.id + "\" is already used on line " + std::to_string(seen[f.id]), f.line);
                else study.form.push_back(f);
                seen.emplace(f.id, f.line);
            }
        }
        if (!xml.hasError() && fields == 0) Problem("<form> holds no <field>", formLine);
    }

    // The well-known fields need only their id; any attribute overrides.
    bool ReadField(FormField& f)
    {
        f.line = static_cast<int>(xml.lineNumber());
        OnlyAttributes({"id", "label", "min", "max", "choices", "required"});
        f.id = Text("id").toStdString();
        bool ok = true;
        if (!ColumnSafe(f.id)) {
            Problem("<field> needs an \"id\" of letters, digits and _ (not \"" + f.id + "\")");
            ok = false;
        } else if (f.id == "participant" || f.id == "pilot" || f.id == "time_utc") {
            Problem("field id \"" + f.id + "\" is a column the participant file has anyway; choose another");
            ok = false;
        }
        bool known = false;
        if (f.id == "age") {
            known = true;
            f.label = "Age";
            f.kind = FormField::Number;
            f.minimum = 16;
            f.maximum = 99;
        } else if (f.id == "handedness") {
            known = true;
            f.label = "Handedness";
            f.choices = {"right", "left", "both"};
        } else if (f.id == "experience3d") {
            known = true;
            f.label = "Experience with 3D tools";
            f.choices = {"none", "a little", "regularly", "daily"};
        }
        if (Has("label")) f.label = Text("label").toStdString();
        if (f.label.empty()) f.label = f.id;
        const bool range = Has("min") || Has("max");
        if (range && Has("choices")) {
            Problem("<field> takes either min/max (a number) or choices, not both");
            ok = false;
        } else if (range) {
            f.kind = FormField::Number;
            f.choices.clear();
            bool okMin = true, okMax = true;
            if (Has("min")) f.minimum = Text("min").toInt(&okMin);
            if (Has("max")) f.maximum = Text("max").toInt(&okMax);
            if (!okMin || !okMax || (!known && !(Has("min") && Has("max")))) {
                Problem("a number <field> needs whole numbers \"min\" and \"max\"");
                ok = false;
            } else if (f.minimum > f.maximum) {
                Problem("min of <field> is above its max");
                ok = false;
            }
        } else if (Has("choices")) {
            f.kind = FormField::Choice;
            f.choices.clear();
            for (const QString& c : Text("choices").split(QLatin1Char('|'), Qt::SkipEmptyParts))
                if (!c.trimmed().isEmpty()) f.choices.push_back(c.trimmed().toStdString());
            std::vector<std::string> sorted = f.choices;
            std::sort(sorted.begin(), sorted.end());
            if (f.choices.size() < 2) {
                Problem("choices of <field> need two or more, separated by |");
                ok = false;
            } else if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
                Problem("choices of <field> name one choice twice");
                ok = false;
            }
        } else if (!known) {
            Problem("<field id=\"" + f.id + "\"> needs choices=\"a|b|...\" or min and max");
            ok = false;
        }
        if (Has("required") && !Flag("required", f.required)) ok = false;
        NoChildren();
        return ok;
    }

    // End-of-study questionnaires come after every trial, and a break needs
    // trials before it and something after it.
    void CheckEndAndBreaks()
    {
        for (const StudyQuestionnaireEntry& q : study.questionnaires)
            if (q.block < 0 && !study.trials.empty() && study.trials.back().line > q.line) {
                Problem("a <questionnaire> directly inside <study> is asked at the end; move it after the last trial "
                        "(or into a <block> to follow that block)",
                        q.line);
                break;
            }
        bool endQuestions = false;
        for (const StudyQuestionnaireEntry& q : study.questionnaires) endQuestions |= q.block < 0;
        for (const StudyBreakEntry& b : study.breaks) {
            if (b.block >= 0) continue;
            if (b.afterTrials == 0) Problem("a <break> before the first trial has nothing to rest from", b.line);
            else if (b.afterTrials == study.trials.size() && !endQuestions)
                Problem("a <break> after the last trial has nothing to go on to", b.line);
        }
    }

    static bool ColumnSafe(const std::string& id)
    {
        if (id.empty()) return false;
        for (char c : id)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
        return true;
    }

    void CheckReferences()
    {
        for (const StudyTrialEntry& t : study.trials) {
            if (t.dataset.empty()) continue;
            if (!datasetLines.count(t.dataset)) {
                Problem("trial \"" + t.name + "\" names dataset \"" + t.dataset + "\", which no <dataset> declares",
                        t.line);
            }
        }
    }

    const std::string path;
    StudyDefinition& study;
    const QDir folder;
    QXmlStreamReader xml;
    std::vector<std::string> problems;
    std::map<std::string, int> datasetLines;
    bool syntaxReported = false;
    int formLine = 0;
    // A Likert questionnaire's attributes, taken before its items are read.
    std::string likertId, likertTitle, likertLow, likertHigh;
    int likertPoints = 5;
    bool likertPointsOk = true;
    // More points than fit a row of buttons of the trial buttons' size.
    static constexpr int kMostLikertPoints = 11;
};

}  // namespace

std::vector<std::string> StudyFileReader::Read(const std::string& path, StudyDefinition& study)
{
    study = StudyDefinition();
    return Reading(path, study).Run();
}
