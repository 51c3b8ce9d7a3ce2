// The Python module `dravo2`: the parameter registry, the loop runner, the import of measured
// curves, the misfit and the fit, on the same libraries as the commands. Observables arrive as
// numpy arrays that view the loop's own rows. The interpreter lock is released while a loop or a
// fit runs, and Ctrl-C stops either (a fit keeps its best values so far).

#include "analysis/misfit.h"
#include "data/curve_import.h"
#include "data/errors.h"
#include "data/number_text.h"
#include "engine/parameter_registry.h"
#include "fit/fit_job.h"
#include "fit/parameters.h"
#include "scan/grid_point.h"
#include "scan/scan_grid.h"
#include "scan/scan_runner.h"
#include "sweep/display_preset.h"
#include "sweep/parameter_intake.h"
#include "sweep/run_loop.h"
#include "version/version.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace py = pybind11;

namespace dravo2::python {
namespace {

// A key that names no parameter; the message names the nearest one.
class UnknownKey : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The exception types of the module, created at import.
struct ErrorTypes {
    py::object Error;
    py::object Conversion;
    py::object FloatingPoint;
    py::object File;
    py::object Key;
};

ErrorTypes& Errors() {
    static ErrorTypes* types = new ErrorTypes(); // lives as long as the interpreter
    return *types;
}

py::object NewErrorType(py::module_& m, const char* name, const char* doc, py::tuple bases) {
    const std::string qualified = std::string("dravo2.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (type == nullptr) {
        throw py::error_already_set();
    }
    py::object object = py::reinterpret_steal<py::object>(type);
    m.attr(name) = object;
    return object;
}

// The edit distance of two keys, case ignored, for the nearest valid key.
std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string NearestOf(std::string_view key, const std::vector<std::string_view>& names) {
    // The fewest edits; among as few, the longest common beginning (J4 is nearer J1 than M4).
    std::string_view best;
    std::size_t bestDistance = static_cast<std::size_t>(-1);
    std::size_t bestPrefix = 0;
    for (const std::string_view name : names) {
        const std::size_t distance = EditDistance(key, name);
        std::size_t prefix = 0;
        while (prefix < key.size() && prefix < name.size() &&
               std::tolower(static_cast<unsigned char>(key[prefix])) ==
                   std::tolower(static_cast<unsigned char>(name[prefix]))) {
            ++prefix;
        }
        if (distance < bestDistance || (distance == bestDistance && prefix > bestPrefix)) {
            bestDistance = distance;
            bestPrefix = prefix;
            best = name;
        }
    }
    return std::string(best);
}

[[noreturn]] void ThrowUnknown(std::string_view key, const std::vector<std::string_view>& names, const char* what) {
    throw UnknownKey("'" + std::string(key) + "' is not " + what + "; did you mean '" + NearestOf(key, names) + "'?");
}

std::vector<std::string_view> RegistryKeys() {
    std::vector<std::string_view> keys;
    for (const ParameterEntry& entry : ParameterRegistry()) {
        keys.push_back(entry.Key);
    }
    return keys;
}

std::size_t RegistryIndex(std::string_view key) {
    const auto registry = ParameterRegistry();
    for (std::size_t i = 0; i < registry.size(); ++i) {
        if (registry[i].Key == key) {
            return i;
        }
    }
    ThrowUnknown(key, RegistryKeys(), "a parameter");
}

// A Python value as the text a KEY=VALUE argument would give: a str as it is, a whole number in
// decimal, a real number as its shortest text that reads back as the same double, an angle as
// its nearest whole degree.
std::string ValueText(const ParameterEntry& entry, const py::handle& value) {
    if (py::isinstance<py::str>(value)) {
        return value.cast<std::string>();
    }
    if (entry.Form == ValueForm::Choice || py::isinstance<py::bool_>(value)) {
        throw ConversionError("'" + py::str(value).cast<std::string>() + "' is not a value of " +
                              std::string(entry.Key));
    }
    if (PyIndex_Check(value.ptr()) != 0) {
        return py::str(py::int_(py::reinterpret_borrow<py::object>(value))).cast<std::string>();
    }
    const double number = py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
    if (entry.Form == ValueForm::Degrees && std::isfinite(number)) {
        return std::to_string(std::lround(number));
    }
    return fit::ShortestText(number);
}

// Every parameter of the registry as the text a KEY=VALUE argument gives it, so that a set built
// here runs exactly as the same words given to the commands.
class Parameters {
public:
    Parameters() {
        for (const ParameterEntry& entry : ParameterRegistry()) {
            Texts.emplace_back(entry.DefaultText);
        }
    }

    static const ParameterEntry& Entry(std::size_t index) { return ParameterRegistry()[index]; }

    // Checks the text as the command does before keeping it.
    void SetText(std::size_t index, const std::string& text) {
        const ParameterEntry& entry = Entry(index);
        const Real value = ParseParameter(entry, text);
        if (entry.Key == "gamma" && !(value > 0)) {
            throw ProgramError("'" + text + "' is not a gyromagnetic ratio above 0");
        }
        Texts[index] = text;
    }

    void Set(std::string_view key, const py::handle& value) {
        const std::size_t index = RegistryIndex(key);
        SetText(index, ValueText(Entry(index), value));
    }

    Real Number(std::size_t index) const {
        const ParameterEntry& entry = Entry(index);
        ParameterSet set;
        entry.Set(set, ParseParameter(entry, Texts[index]));
        return entry.Get(set);
    }

    py::object Get(std::string_view key) const {
        const std::size_t index = RegistryIndex(key);
        const ParameterEntry& entry = Entry(index);
        switch (entry.Form) {
        case ValueForm::Choice:
            return py::str(Texts[index]);
        case ValueForm::Integer:
        case ValueForm::Degrees:
            return py::int_(static_cast<long long>(Number(index)));
        case ValueForm::Extended:
        case ValueForm::Double:
            break;
        }
        return py::float_(static_cast<double>(Number(index)));
    }

    ParameterSet Numbers() const {
        ParameterSet set;
        for (std::size_t i = 0; i < Texts.size(); ++i) {
            Entry(i).Set(set, ParseParameter(Entry(i), Texts[i]));
        }
        return set;
    }

    const std::string& Text(std::string_view key) const { return Texts[RegistryIndex(key)]; }

    // The window's fields as these texts fill them (the fit reads its parameters from them).
    ParameterTexts FieldTexts() const {
        ParameterTexts texts;
        for (std::size_t i = 0; i < Texts.size(); ++i) {
            const ParameterEntry& entry = Entry(i);
            if (std::string* field = FieldText(texts, entry.Key)) {
                *field = Texts[i];
            } else if (int* degrees = FieldDegrees(texts, entry.Key)) {
                *degrees = static_cast<int>(Number(i));
            } else if (entry.Key == "aniso") {
                texts.UniaxialChecked = Texts[i] == "UA";
                texts.QuarticChecked = Texts[i] == "QU";
            }
        }
        return texts;
    }

    std::vector<std::string> Texts;
};

// A path given as str or os.PathLike.
std::string PathText(const py::object& path) {
    return py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw InputOutputError(path + ": cannot be opened");
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

Parameters ParametersFromText(const std::string& text, const std::string& path) {
    Parameters p;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (word.front() == '#') {
                break;
            }
            const std::size_t equals = word.find('=');
            if (equals == std::string::npos) {
                throw ProgramError(path + ": line " + std::to_string(number) + ": '" + word + "' is not KEY=VALUE");
            }
            // The window's parameter files also say which display the loop was drawn in.
            if (word.substr(0, equals) == "mode") {
                continue;
            }
            const std::size_t index = RegistryIndex(word.substr(0, equals));
            p.SetText(index, word.substr(equals + 1));
        }
    }
    return p;
}

// Runs `work` without the interpreter lock on another thread while this one waits, asking every
// `poll` for Ctrl-C (only the main thread receives it); `cancel` is called once on Ctrl-C.
// Returns whether Ctrl-C came; the KeyboardInterrupt is then left set.
template <typename Work, typename Cancel> bool RunInterruptibly(Work&& work, Cancel&& cancel) {
    const bool mainThread = PyThread_get_thread_ident() ==
                            py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    std::exception_ptr failure;
    std::atomic<bool> finished{false};
    bool interrupted = false;
    {
        py::gil_scoped_release release;
        std::thread worker([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            finished = true;
        });
        while (!finished.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (mainThread && !interrupted) {
                py::gil_scoped_acquire acquire;
                if (PyErr_CheckSignals() != 0) {
                    interrupted = true;
                    cancel();
                }
            }
        }
        worker.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    return interrupted;
}

// A flag that stops a loop from another thread; the loop reads it before every step without
// the interpreter lock.
struct StopFlag {
    std::shared_ptr<std::atomic<bool>> Flag = std::make_shared<std::atomic<bool>>(false);
};

// A stop check for a loop run on the calling thread without the interpreter lock: a StopFlag's
// state before every step, and on the main thread, every 50 ms, whether Python's signal handlers
// raised (KeyboardInterrupt from Ctrl-C), leaving that exception set.
class SignalPoll {
public:
    explicit SignalPoll(const std::optional<StopFlag>& stop) {
        if (stop) {
            Flag = stop->Flag;
        }
        MainThread = PyThread_get_thread_ident() ==
                     py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    }

    bool operator()() {
        if (Flag && Flag->load()) {
            return true;
        }
        if (!MainThread || Raised) {
            return Raised;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - Last < std::chrono::milliseconds(50)) {
            return false;
        }
        Last = now;
        py::gil_scoped_acquire acquire;
        Raised = PyErr_CheckSignals() != 0;
        return Raised;
    }

    bool Raised = false;

private:
    std::shared_ptr<std::atomic<bool>> Flag;
    bool MainThread = false;
    std::chrono::steady_clock::time_point Last = std::chrono::steady_clock::now();
};

// A finished loop: its rows, and the model it ran (for a comparison's saturation).
struct Loop {
    std::shared_ptr<LoopResult> Rows;
    ModelParameters Model;
    bool AlongY = false;
};

py::array ReadOnly(py::array array) {
    array.attr("setflags")(py::arg("write") = false);
    return array;
}

py::array ColumnView(const py::object& self, Observable observable) {
    const Loop& loop = self.cast<const Loop&>();
    return ReadOnly(py::array_t<double>({static_cast<py::ssize_t>(loop.Rows->Rows())},
                                        {static_cast<py::ssize_t>(sizeof(double))}, loop.Rows->Column(observable),
                                        self));
}

// Columns first..first + count - 1 of the rows as a rows x count array in place.
py::array BlockView(const py::object& self, Observable first, py::ssize_t count) {
    const Loop& loop = self.cast<const Loop&>();
    const auto stride = static_cast<py::ssize_t>(loop.Rows->Capacity * sizeof(double));
    return ReadOnly(py::array_t<double>({static_cast<py::ssize_t>(loop.Rows->Rows()), count},
                                        {static_cast<py::ssize_t>(sizeof(double)), stride}, loop.Rows->Column(first),
                                        self));
}

std::string EndName(LoopEnd end) {
    switch (end) {
    case LoopEnd::Completed:
        return "completed";
    case LoopEnd::TableFull:
        return "table full";
    case LoopEnd::Stopped:
        return "stopped";
    case LoopEnd::FloatingPointError:
        return "floating-point error";
    }
    return {};
}

// A field in A/m as the text of the same number in kA/m: the decimal point moved, so that the
// sweep reads the value the same digits typed in kA/m give.
std::string KiloAmpereText(double amperePerMetre) {
    std::string text = fit::ShortestText(amperePerMetre);
    const std::size_t e = text.find('e');
    if (e == std::string::npos) {
        return text + "e-3";
    }
    return text.substr(0, e) + "e" + std::to_string(std::stoi(text.substr(e + 1)) - 3);
}

SolverMethod SolverNamed(const std::string& name) {
    if (name == "newton") {
        return SolverMethod::Newton;
    }
    if (name == "descent") {
        return SolverMethod::Descent;
    }
    throw ProgramError("'" + name + "' is not a solver (descent or newton)");
}

// Start's check of the plot it would draw, which the commands make too. The check draws a frame,
// about as long as a short loop takes; its outcome depends only on the sweep fields and the
// layers' magnetisations and thicknesses, so a repeat with the same ones (a fit of the couplings
// from Python) is not checked again.
void CheckStartPlotOnce(const Parameters& set, const ParameterSet& numbers, bool alongY) {
    static constexpr std::string_view kKeys[] = {"start", "steps", "step", "M1", "M2", "M3",
                                                 "M4",    "t1",    "t2",   "t3", "t4"};
    std::string key = alongY ? "y" : "x";
    for (const std::string_view k : kKeys) {
        key += " " + set.Text(k);
    }
    thread_local std::string passed;
    if (key == passed) {
        return;
    }
    CheckStartPlot(numbers.Model, numbers.Sweep, alongY ? DisplayMode::MvHy : DisplayMode::MvHx, set.Text("DR"));
    passed = key;
}

Loop RunLoopFor(const Parameters& p, const py::object& start, const py::object& step, const py::object& steps,
                const py::object& reverse, const py::object& solver, const py::object& seed, const py::object& initial,
                const py::object& fields, const std::string& along, const std::optional<StopFlag>& stop, bool modes) {
    Parameters set = p;
    if (!start.is_none()) {
        set.SetText(RegistryIndex("start"), KiloAmpereText(start.cast<double>()));
    }
    if (!step.is_none()) {
        set.SetText(RegistryIndex("step"), KiloAmpereText(step.cast<double>()));
    }
    if (!steps.is_none()) {
        set.Set("steps", steps);
    }
    if (!solver.is_none()) {
        set.Set("solver", solver);
    }
    ParameterSet numbers = set.Numbers();
    if (along != "x" && along != "y") {
        throw ProgramError("'" + along + "' is not a projection (x or y)");
    }
    CheckLayerSigns(numbers.Model.Stack, [&set](std::string_view key) { return set.Text(key); });

    InitialState state = InitialState::Saturated();
    if (!(py::isinstance<py::str>(initial) && initial.cast<std::string>() == "saturated")) {
        if (py::isinstance<py::str>(initial)) {
            throw ProgramError("'" + initial.cast<std::string>() + "' is not a start (\"saturated\" or four angles)");
        }
        const auto angles = initial.cast<std::vector<double>>();
        if (angles.size() != kLayers) {
            throw ProgramError("The start takes four angles (rad), one a layer");
        }
        state = InitialState{};
        std::copy(angles.begin(), angles.end(), state.Angles.begin());
    }
    if (!seed.is_none()) {
        state.RandomState = seed.cast<std::uint32_t>();
    }

    // Any length the caller asks for: the table's row limit is the window's and the commands'.
    LoopPlan plan;
    plan.MaxRows = std::numeric_limits<std::int32_t>::max();
    plan.ProjectionAlongY = along == "y";
    plan.Modes = modes;
    if (!fields.is_none()) {
        if (!start.is_none() || !step.is_none() || !steps.is_none() || !reverse.is_none()) {
            throw ProgramError("fields gives every row: start, step, steps and reverse do not go with it");
        }
        const auto values = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(fields);
        if (!values || values.ndim() != 1) {
            throw ProgramError("fields must be a one-dimensional sequence of fields (A/m)");
        }
        plan.Fields.assign(values.data(), values.data() + values.size());
    } else {
        const int reversals = reverse.is_none() ? 1 : reverse.cast<int>();
        plan.Branches = {numbers.Sweep};
        for (int i = 0; i < reversals; ++i) {
            plan.Branches.push_back(ReversedBranch(plan.Branches.back()));
        }
        CheckStartPlotOnce(set, numbers, along == "y");
    }

    Loop loop;
    loop.Model = numbers.Model;
    loop.AlongY = along == "y";
    SignalPoll poll(stop);
    {
        py::gil_scoped_release release;
        loop.Rows =
            std::make_shared<LoopResult>(RunLoop(numbers.Model, plan, state, LoopStop([&poll] { return poll(); })));
    }
    if (poll.Raised) {
        throw py::error_already_set();
    }
    if (loop.Rows->End == LoopEnd::FloatingPointError) {
        py::object error = Errors().FloatingPoint(loop.Rows->Error);
        error.attr("result") = py::cast(loop);
        PyErr_SetObject(Errors().FloatingPoint.ptr(), error.ptr());
        throw py::error_already_set();
    }
    return loop;
}

// A measured curve: field (A/m), moment and its uncertainties, as the import loads them.
struct Curve {
    std::vector<double> Field;
    std::vector<double> Moment;
    std::vector<double> Sigma;
    double MomentUnit = 0;
    std::string Report;
};

py::array VectorView(const py::object& self, const std::vector<double>& values) {
    return ReadOnly(py::array_t<double>({static_cast<py::ssize_t>(values.size())},
                                        {static_cast<py::ssize_t>(sizeof(double))}, values.data(), self));
}

Curve CurveOf(const py::array_t<double, py::array::c_style | py::array::forcecast>& field,
              const py::array_t<double, py::array::c_style | py::array::forcecast>& moment, const py::object& sigma,
              double momentUnit) {
    if (field.ndim() != 1 || moment.ndim() != 1 || field.size() != moment.size()) {
        throw ProgramError("The field and moment must be one-dimensional and of equal length");
    }
    Curve curve;
    curve.Field.assign(field.data(), field.data() + field.size());
    curve.Moment.assign(moment.data(), moment.data() + moment.size());
    if (!sigma.is_none()) {
        const auto s = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(sigma);
        if (!s || s.ndim() != 1 || s.size() != field.size()) {
            throw ProgramError("sigma must be one-dimensional and as long as the field");
        }
        curve.Sigma.assign(s.data(), s.data() + s.size());
        if (std::any_of(curve.Sigma.begin(), curve.Sigma.end(), [](double v) { return !(v > 0); })) {
            throw ProgramError("Every uncertainty must be above 0");
        }
    }
    curve.MomentUnit = momentUnit;
    return curve;
}

std::string ColumnText(const ParsedCurveFile& file, std::int32_t column) {
    const CurveColumn& c = file.Columns[static_cast<std::size_t>(column)];
    return std::to_string(column + 1) + " '" + c.Name + "'";
}

std::string ColumnChoice(const py::handle& column) {
    if (PyIndex_Check(column.ptr()) != 0) {
        return std::to_string(column.cast<long long>());
    }
    return column.cast<std::string>();
}

Curve ImportCurve(const py::object& pathObject, const py::object& columns, const py::object& fieldUnit,
                  const py::object& sigma, const std::string& rows, const py::object& momentUnit) {
    std::string fieldText;
    std::string momentText;
    if (!columns.is_none()) {
        if (py::isinstance<py::str>(columns)) {
            const auto text = columns.cast<std::string>();
            const std::size_t comma = text.find(',');
            if (comma == std::string::npos) {
                throw ProgramError("columns takes FIELD,MOMENT, not '" + text + "'");
            }
            fieldText = text.substr(0, comma);
            momentText = text.substr(comma + 1);
        } else {
            const auto pair = columns.cast<py::sequence>();
            if (pair.size() != 2) {
                throw ProgramError("columns takes two columns: the field's and the moment's");
            }
            fieldText = ColumnChoice(pair[0]);
            momentText = ColumnChoice(pair[1]);
        }
    }
    std::optional<FieldUnit> unit;
    if (!fieldUnit.is_none()) {
        unit = FieldUnitFromText(fieldUnit.cast<std::string>());
        if (!unit) {
            throw ProgramError("'" + fieldUnit.cast<std::string>() + "' is not a field unit (A/m, kA/m, Oe, mT or T)");
        }
    }
    if (rows != "thin" && rows != "first") {
        throw ProgramError("'" + rows + "' is not a choice of rows (thin or first)");
    }
    std::optional<double> momentScale;
    if (!momentUnit.is_none()) {
        momentScale = MomentUnitFromText(momentUnit.cast<std::string>());
        if (!momentScale) {
            throw ProgramError("'" + momentUnit.cast<std::string>() + "' is not a moment unit (emu or Am2)");
        }
    }
    const std::string sigmaText = sigma.is_none() ? std::string() : ColumnChoice(sigma);
    const std::string path = PathText(pathObject);

    py::gil_scoped_release release;
    const ParsedCurveFile file = ParseCurveFile(ReadCurveFileBytes(path));
    const ImportSuggestion suggestion = SuggestImport(file);
    ImportChoice choice;
    choice.FieldColumn = suggestion.FieldColumn;
    choice.MomentColumn = suggestion.MomentColumn;
    if (!fieldText.empty() || !momentText.empty()) {
        choice.FieldColumn = FindColumn(file, fieldText);
        choice.MomentColumn = FindColumn(file, momentText);
    }
    if (choice.FieldColumn < 0 || choice.MomentColumn < 0) {
        throw ProgramError("The file has fewer than two columns with values");
    }
    std::string unitSource = "as given";
    if (unit) {
        choice.Unit = *unit;
    } else if (const auto stated = FieldUnitFromText(file.Columns[static_cast<std::size_t>(choice.FieldColumn)].Unit)) {
        choice.Unit = *stated;
        unitSource = "as the file states";
    } else {
        choice.Unit = FieldUnit::AmperePerMetre;
        unitSource = "the file does not state the unit; give field_unit";
    }
    choice.Long = rows == "first" ? LongCurve::FirstRows : LongCurve::Thin;
    if (!sigmaText.empty()) {
        choice.SigmaColumn = FindColumn(file, sigmaText);
    }
    auto experiment = std::make_unique<ExperimentData>();
    experiment->ClearExpTable();
    const ImportSummary summary = FillExperiment(file, choice, *experiment);
    std::string momentSource = "as the file states";
    if (momentScale) {
        experiment->MomentUnit = *momentScale;
        momentSource = "as given";
    }

    Curve curve;
    const auto count = static_cast<std::size_t>(experiment->ExpRows);
    curve.Field.assign(experiment->ExpTable.Column(1), experiment->ExpTable.Column(1) + count);
    curve.Moment.assign(experiment->ExpTable.Column(2), experiment->ExpTable.Column(2) + count);
    if (experiment->SigmaColumn > 0) {
        const double* s = experiment->ExpTable.Column(experiment->SigmaColumn);
        curve.Sigma.assign(s, s + count);
    }
    curve.MomentUnit = experiment->MomentUnit;
    std::ostringstream report;
    report << DescribeCurveFile(file) << "\nfield: " << ColumnText(file, choice.FieldColumn) << " in "
           << FieldUnitName(choice.Unit) << " (" << unitSource
           << ")\nmoment: " << ColumnText(file, choice.MomentColumn);
    if (curve.MomentUnit > 0) {
        report << " in " << MomentUnitName(curve.MomentUnit) << " (" << momentSource << ")";
    }
    report << "\n";
    if (choice.SigmaColumn >= 0) {
        report << "uncertainty: " << ColumnText(file, choice.SigmaColumn) << "\n";
    }
    report << "rows: " << summary.KeptRows << " loaded";
    if (summary.SkippedRows > 0) {
        report << ", " << summary.SkippedRows << " without both values skipped";
    }
    if (summary.UsableRows > summary.KeptRows) {
        report << (summary.Stride > 1 ? ", one in " + std::to_string(summary.Stride) + " of " : ", the first of ")
               << summary.UsableRows << " usable";
    }
    report << "\n";
    curve.Report = report.str();
    return curve;
}

MisfitOptions BackgroundTerms(const py::object& background) {
    MisfitOptions options;
    if (background.is_none()) {
        return options;
    }
    const auto name = background.cast<std::string>();
    if (name != "slope" && name != "offset" && name != "both") {
        throw ProgramError("'" + name + "' is not a background (slope, offset or both)");
    }
    options.Slope = name == "slope" || name == "both";
    options.Offset = name == "offset" || name == "both";
    return options;
}

// A sample area in m^2: a number, or a text with its unit ("0.2947cm2").
double AreaOf(const py::object& area) {
    if (area.is_none()) {
        return 0;
    }
    if (py::isinstance<py::str>(area)) {
        const auto text = area.cast<std::string>();
        if (const auto value = SampleAreaFromText(text)) {
            return *value;
        }
        throw ProgramError("'" + text + "' is not an area (a positive number with cm2, mm2 or m2)");
    }
    const double value = area.cast<double>();
    if (!(value > 0) || !std::isfinite(value)) {
        throw ProgramError("The sample area must be a positive number (m^2)");
    }
    return value;
}

CurveView MeasuredView(const Curve& curve) {
    return {curve.Field.data(), curve.Moment.data(), static_cast<std::int32_t>(curve.Field.size()),
            curve.Sigma.empty() ? nullptr : curve.Sigma.data()};
}

struct Misfit {
    MisfitResult Result;
    std::vector<double> Residuals; // sqrt(w) r / R / sqrt(sum w): their squares sum to the misfit squared
};

Misfit MisfitOf(const Loop& loop, const Curve& curve, const py::object& background, const py::object& area) {
    MisfitOptions options = BackgroundTerms(background);
    const LayerValues layers = LayersOf(loop.Model.Stack);
    const double sampleArea = AreaOf(area);
    if (sampleArea > 0) {
        if (!(curve.MomentUnit > 0)) {
            throw ProgramError("An area needs the moment's unit, which the curve does not state: give moment_unit");
        }
        options.FixedScale = SaturatedMoment(layers.M, layers.t, sampleArea, curve.MomentUnit);
    }
    const CurveView simulated{loop.Rows->Column(Observable::Field), loop.Rows->Column(Observable::Projection),
                              static_cast<std::int32_t>(loop.Rows->Rows()), nullptr};
    Misfit misfit;
    {
        py::gil_scoped_release release;
        misfit.Result =
            ComputeMisfit(MeasuredView(curve), simulated, SaturationProjection(layers.M, layers.t), options);
    }
    if (misfit.Result.Valid && misfit.Result.SumWeights > 0) {
        const double norm = std::sqrt(misfit.Result.SumWeights);
        for (const double r : misfit.Result.WeightedResiduals) {
            misfit.Residuals.push_back(r / norm);
        }
    }
    return misfit;
}

py::object Optional(const std::optional<double>& value) {
    return value ? py::object(py::float_(*value)) : py::object(py::none());
}

struct Fit {
    fit::FitOutcome Outcome;
    std::vector<std::string> Names;
    Parameters Fitted;
    py::object BestLoop;
    bool Interrupted = false;
};

Fit RunFit(const Curve& curve, const Parameters& p, const std::vector<std::string>& free,
           const std::map<std::string, std::pair<double, double>>& bounds, const py::object& background,
           const py::object& area, std::int64_t evals, const py::object& time, int threads, std::uint64_t seed,
           const std::string& solver, const py::object& step) {
    std::vector<std::string_view> fittable;
    for (const fit::ParameterInfo& info : fit::FittableParameters()) {
        fittable.push_back(info.Name);
    }
    fit::FitRequest request;
    request.Texts = p.FieldTexts();
    request.Measured.Field = curve.Field;
    request.Measured.Moment = curve.Moment;
    request.Measured.Sigma = curve.Sigma;
    request.Measured.MomentUnit = curve.MomentUnit;
    if (free.empty()) {
        throw ProgramError("Give the parameters to fit in free");
    }
    for (const std::string& name : free) {
        const auto index = fit::ParameterIndex(name);
        if (!index) {
            ThrowUnknown(name, fittable, "a fittable parameter");
        }
        if (std::count(free.begin(), free.end(), name) > 1) {
            throw ProgramError(name + " is freed twice");
        }
        fit::FreeChoice choice{*index, std::nullopt};
        if (const auto range = bounds.find(name); range != bounds.end()) {
            choice.Range = Bounds{range->second.first, range->second.second};
        }
        request.Free.push_back(choice);
    }
    for (const auto& [name, range] : bounds) {
        if (std::find(free.begin(), free.end(), name) == free.end()) {
            throw ProgramError("bounds given for " + name + ", which is not free");
        }
    }
    if (evals < 1) {
        throw ProgramError("evals must be at least 1");
    }
    request.Simulation.Newton = SolverNamed(solver) == SolverMethod::Newton;
    request.Simulation.Terms = BackgroundTerms(background);
    request.Simulation.Area = AreaOf(area);
    request.Simulation.Step = step.is_none() ? 0.0 : step.cast<double>();
    if (request.Simulation.Step < 0 || !std::isfinite(request.Simulation.Step)) {
        throw ProgramError("step takes a positive field step in A/m");
    }
    request.Settings.Evaluations = evals;
    request.Settings.TimeLimit = time.is_none() ? 0.0 : time.cast<double>();
    request.Settings.Threads = std::max(threads, 0);
    request.Settings.Seed = seed;

    auto job = std::make_shared<fit::FitJob>(std::move(request));
    Fit result;
    result.Names = free;
    result.Interrupted = RunInterruptibly([&] { result.Outcome = job->Run(); }, [&] { job->Cancel(); });
    if (result.Interrupted) {
        PyErr_Clear();
        if (PyErr_WarnEx(PyExc_RuntimeWarning, "fit stopped by Ctrl-C: the best values so far are returned", 1) != 0) {
            throw py::error_already_set();
        }
    }

    result.Fitted = p;
    for (std::size_t i = 0; i < result.Fitted.Texts.size(); ++i) {
        const ParameterEntry& entry = Parameters::Entry(i);
        if (const std::string* text = FieldText(result.Outcome.Fitted, entry.Key)) {
            result.Fitted.Texts[i] = *text;
        } else if (const int* degrees = FieldDegrees(result.Outcome.Fitted, entry.Key)) {
            result.Fitted.Texts[i] = std::to_string(*degrees);
        }
    }
    result.Fitted.Texts[RegistryIndex("solver")] = solver;
    if (result.Outcome.Values.size() == free.size()) {
        Loop loop;
        loop.Model = job->Objective().ModelFor(result.Outcome.Values);
        LoopPlan plan;
        plan.Branches = job->Objective().Branches();
        plan.MaxRows = std::numeric_limits<std::int32_t>::max();
        {
            py::gil_scoped_release release;
            loop.Rows = std::make_shared<LoopResult>(RunLoop(loop.Model, plan, InitialState::Saturated()));
        }
        result.BestLoop = py::cast(std::move(loop));
    } else {
        result.BestLoop = py::none();
    }
    return result;
}

// The scan's table as a structured array: the axes' values, then the loop's features (NaN where a
// loop has none), the misfit against `curve` where given, and each loop's iterations.
py::object RunScan(const Parameters& base, const py::dict& grid, const std::optional<Curve>& curve,
                   const py::object& background, const py::object& area, unsigned threads, const std::string& along,
                   const py::object& initial, const py::object& solver) {
    Parameters p = base;
    if (!solver.is_none()) {
        p.Set("solver", solver);
    }
    ScanGrid scanGrid;
    for (const auto& [name, axis] : grid) {
        const auto key = name.cast<std::string>();
        RegistryIndex(key);
        if (py::isinstance<py::str>(axis)) {
            scanGrid.Axes.push_back(ParseAxis(key + "=" + axis.cast<std::string>()));
            continue;
        }
        const auto range = axis.cast<py::sequence>();
        if (range.size() != 3) {
            throw ProgramError("The grid gives each key (low, high, count), not " + py::repr(axis).cast<std::string>());
        }
        scanGrid.Axes.push_back(ParseAxis(key + "=" + RoundTripText(range[0].cast<double>()) + ":" +
                                          RoundTripText(range[1].cast<double>()) + ":" +
                                          std::to_string(range[2].cast<long long>())));
    }
    if (scanGrid.Axes.empty()) {
        throw ProgramError("The grid names no key to scan");
    }
    if (along != "x" && along != "y") {
        throw ProgramError("'" + along + "' is not a projection (x or y)");
    }
    const std::size_t size = scanGrid.Size();
    ScanPlan plan;
    plan.ProjectionAlongY = along == "y";
    plan.SaturatedStart = py::isinstance<py::str>(initial) && initial.cast<std::string>() == "saturated";
    if (!plan.SaturatedStart && !(py::isinstance<py::str>(initial) && initial.cast<std::string>() == "zero")) {
        throw ProgramError("'" + py::str(initial).cast<std::string>() + "' is not a start (saturated or zero)");
    }

    // Every point's parameter set, as the scan command sets the axes' values: each value's
    // shortest text, taken as typed. A point the sweep would refuse ends the scan before any loop.
    std::vector<ParameterSet> sets(size);
    for (std::size_t point = 0; point < size; ++point) {
        Parameters set = p;
        const std::vector<double> values = scanGrid.Point(point);
        for (std::size_t a = 0; a < values.size(); ++a) {
            set.SetText(RegistryIndex(scanGrid.Axes[a].Name), RoundTripText(values[a]));
        }
        sets[point] = set.Numbers();
        CheckLayerSigns(sets[point].Model.Stack, [&set](std::string_view key) { return set.Text(key); });
        CheckStartPlotOnce(set, sets[point], plan.ProjectionAlongY);
    }

    auto measured = std::make_unique<ExperimentData>();
    ScanComparison comparison{nullptr, BackgroundTerms(background)};
    if (curve) {
        if (curve->Field.size() > static_cast<std::size_t>(MaxRows)) {
            throw ProgramError("A scan compares at most " + std::to_string(MaxRows) + " measured points");
        }
        measured->ClearExpTable();
        measured->ExpRows = static_cast<std::int32_t>(curve->Field.size());
        measured->ExpCols = curve->Sigma.empty() ? 2 : 3;
        std::copy(curve->Field.begin(), curve->Field.end(), &measured->ExpTable.At(1, 1));
        std::copy(curve->Moment.begin(), curve->Moment.end(), &measured->ExpTable.At(2, 1));
        if (!curve->Sigma.empty()) {
            std::copy(curve->Sigma.begin(), curve->Sigma.end(), &measured->ExpTable.At(3, 1));
            measured->SigmaColumn = 3;
        }
        measured->MomentUnit = curve->MomentUnit;
        comparison.Measured = measured.get();
        const double sampleArea = AreaOf(area);
        if (sampleArea > 0) {
            if (!(curve->MomentUnit > 0)) {
                throw ProgramError("An area needs the moment's unit, which the curve does not state: give moment_unit");
            }
            comparison.AreaPerMomentUnit = sampleArea / curve->MomentUnit;
        }
    }

    std::vector<std::size_t> points(size);
    for (std::size_t i = 0; i < size; ++i) {
        points[i] = i;
    }
    const bool mainThread = PyThread_get_thread_ident() ==
                            py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    std::atomic<bool> cancel{false};
    bool interrupted = false;
    std::vector<ScanRow> rows;
    {
        py::gil_scoped_release release;
        const unsigned count = threads > 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
        rows = RunScanPoints(
            points, count,
            [&](std::size_t point) { return SimulateGridPoint(sets[point], plan, &cancel, &comparison); }, cancel,
            [&](std::size_t) {
                if (mainThread && !interrupted) {
                    py::gil_scoped_acquire acquire;
                    if (PyErr_CheckSignals() != 0) {
                        interrupted = true;
                        cancel = true;
                    }
                }
            });
    }
    if (interrupted) {
        PyErr_Clear();
        if (PyErr_WarnEx(PyExc_RuntimeWarning, "scan stopped by Ctrl-C: the points done so far are returned", 1) != 0) {
            throw py::error_already_set();
        }
    }

    static const char* const kFeatures[] = {"Hc_down", "Hc_up", "H_eb", "Hc", "Mr_down", "Mr_up", "H_sat", "jumps"};
    py::list fields;
    for (const ScanAxis& axis : scanGrid.Axes) {
        fields.append(py::make_tuple(axis.Name, "f8"));
    }
    for (const char* name : kFeatures) {
        fields.append(py::make_tuple(name, "f8"));
    }
    fields.append(py::make_tuple("misfit", "f8"));
    fields.append(py::make_tuple("iterations", "i8"));
    py::module_ numpy = py::module_::import("numpy");
    py::object table = numpy.attr("zeros")(size, numpy.attr("dtype")(fields));
    const double none = std::nan("");
    auto column = [&](auto&& value) {
        py::array_t<double> values(static_cast<py::ssize_t>(size));
        auto view = values.mutable_unchecked<1>();
        for (std::size_t i = 0; i < size; ++i) {
            view(static_cast<py::ssize_t>(i)) = value(i);
        }
        return values;
    };
    for (std::size_t a = 0; a < scanGrid.Axes.size(); ++a) {
        table[py::str(scanGrid.Axes[a].Name)] = column([&](std::size_t i) { return scanGrid.Point(i)[a]; });
    }
    using Member = std::optional<double> LoopFeatures::*;
    static const Member kMembers[] = {&LoopFeatures::CoerciveDown,   &LoopFeatures::CoerciveUp,
                                      &LoopFeatures::ExchangeBias,   &LoopFeatures::Coercivity,
                                      &LoopFeatures::RemanenceDown,  &LoopFeatures::RemanenceUp,
                                      &LoopFeatures::SaturationField};
    for (std::size_t f = 0; f < std::size(kMembers); ++f) {
        table[py::str(kFeatures[f])] = column([&](std::size_t i) {
            const auto& features = rows[i].Features;
            return features && (*features.*kMembers[f]) ? *(*features.*kMembers[f]) : none;
        });
    }
    table[py::str("jumps")] =
        column([&](std::size_t i) { return rows[i].Features ? static_cast<double>(rows[i].Features->Jumps) : none; });
    table[py::str("misfit")] = column([&](std::size_t i) { return rows[i].Misfit.value_or(none); });
    std::vector<std::int64_t> iterations(size);
    for (std::size_t i = 0; i < size; ++i) {
        iterations[i] = rows[i].Iterations;
    }
    table[py::str("iterations")] = py::array_t<std::int64_t>(py::cast(iterations));
    return table;
}

void Translate(std::exception_ptr pointer) {
    try {
        if (pointer) {
            std::rethrow_exception(pointer);
        }
    } catch (const UnknownKey& error) {
        PyErr_SetString(Errors().Key.ptr(), error.what());
    } catch (const ConversionError& error) {
        PyErr_SetString(Errors().Conversion.ptr(), error.what());
    } catch (const FloatingPointError& error) {
        PyErr_SetString(Errors().FloatingPoint.ptr(), error.what());
    } catch (const InputOutputError& error) {
        PyErr_SetString(Errors().File.ptr(), error.what());
    } catch (const ProgramError& error) {
        PyErr_SetString(Errors().Error.ptr(), error.what());
    }
}

std::string Repr(const Parameters& p) {
    std::string text = "dravo2.Parameters(";
    const Parameters defaults;
    bool first = true;
    for (std::size_t i = 0; i < p.Texts.size(); ++i) {
        const ParameterEntry& entry = Parameters::Entry(i);
        const bool same =
            entry.Form == ValueForm::Choice ? p.Texts[i] == defaults.Texts[i] : p.Number(i) == defaults.Number(i);
        if (same) {
            continue;
        }
        text += (first ? "" : ", ") + std::string(entry.Key) + "=" +
                (entry.Form == ValueForm::Choice ? "'" + p.Texts[i] + "'" : p.Texts[i]);
        first = false;
    }
    return text + ")";
}

py::dict Describe(const Parameters& p, const std::string& key) {
    const std::size_t index = RegistryIndex(key);
    const ParameterEntry& entry = Parameters::Entry(index);
    py::dict d;
    d["key"] = std::string(entry.Key);
    d["unit"] = std::string(entry.Unit);
    d["meaning"] = std::string(entry.Meaning);
    d["default"] = std::string(entry.DefaultText);
    d["value"] = p.Get(key);
    if (entry.Form == ValueForm::Choice) {
        py::list choices;
        for (const std::string_view choice : entry.Choices) {
            if (!choice.empty()) {
                choices.append(std::string(choice));
            }
        }
        d["choices"] = choices;
    } else {
        d["choices"] = py::none();
    }
    if (entry.Fittable()) {
        const Bounds range = DefaultBounds(entry.Kind, static_cast<double>(p.Number(index)));
        d["bounds"] = py::make_tuple(range.Lower, range.Upper);
    } else {
        d["bounds"] = py::none();
    }
    return d;
}

} // namespace
} // namespace dravo2::python

PYBIND11_MODULE(dravo2, m) {
    using namespace dravo2;
    using namespace dravo2::python;
    m.doc() = "Dravo2's layer model from Python: the parameters of the commands, hysteresis loops as numpy\n"
              "arrays, the import of measured curves, the misfit and the fit. Fields in A/m, magnetisation\n"
              "in T, thicknesses in m, anisotropy in J/m^3, couplings and bias in J/m^2, angles in degrees.";
    m.attr("__version__") = std::string(kVersion);

    ErrorTypes& errors = Errors();
    errors.Error = NewErrorType(m, "Error", "An error of the program, with its message.",
                                py::make_tuple(py::handle(PyExc_Exception)));
    errors.Conversion = NewErrorType(m, "ConversionError", "A value that does not convert, as a typed field.",
                                     py::make_tuple(errors.Error, py::handle(PyExc_ValueError)));
    errors.FloatingPoint = NewErrorType(
        m, "FloatingPointError",
        "Invalid operation, division by zero or overflow in a loop's step; `result` holds the rows before it.",
        py::make_tuple(errors.Error, py::handle(PyExc_ArithmeticError)));
    errors.FloatingPoint.attr("result") = py::none();
    errors.File = NewErrorType(m, "FileError", "A file that cannot be read or written, or a bad data row.",
                               py::make_tuple(errors.Error, py::handle(PyExc_OSError)));
    errors.Key = NewErrorType(m, "UnknownKeyError", "A key that names no parameter; the message names the nearest.",
                              py::make_tuple(py::handle(PyExc_KeyError), py::handle(PyExc_AttributeError)));
    py::register_exception_translator(&Translate);

    py::class_<Parameters>(m, "Parameters",
                           R"(Every parameter of the model and the sweep, as the commands' KEY=VALUE words.

Each key is an attribute and an item: p.J1 = -2.5e-3, p["Jbq1"]. Units as the commands take
them: M in T, t in m, K in J/m^3, J, Jbq and bias in J/m^2, angles (axis1..4, field_angle) in
whole degrees 0 to 90, start and step in kA/m, DR in %, noise in rad, gamma in rad/(s T);
aniso is "UA" or "QU", solver "descent" or "newton". A number is kept as its shortest text, so
a set runs exactly as the same words given to dravo2-sweep. A str is taken as typed.)")
        .def(py::init<>(), "The defaults, as the window's fields start.")
        .def(py::init([](const py::kwargs& values) {
                 Parameters p;
                 for (const auto& [key, value] : values) {
                     p.Set(key.cast<std::string>(), value);
                 }
                 return p;
             }),
             "The defaults with the given keys set: Parameters(J1=-2.5e-3, solver='newton').")
        .def("__getattr__", [](const Parameters& p, const std::string& key) { return p.Get(key); })
        .def("__setattr__", [](Parameters& p, const std::string& key, const py::object& value) { p.Set(key, value); })
        .def("__getitem__", [](const Parameters& p, const std::string& key) { return p.Get(key); })
        .def("__setitem__", [](Parameters& p, const std::string& key, const py::object& value) { p.Set(key, value); })
        .def("__contains__", [](const Parameters&, const std::string& key) { return FindParameter(key) != nullptr; })
        .def("__iter__",
             [](const Parameters&) {
                 py::list keys;
                 for (const std::string_view key : RegistryKeys()) {
                     keys.append(std::string(key));
                 }
                 return py::iter(keys);
             })
        .def("__len__", [](const Parameters& p) { return p.Texts.size(); })
        .def("__eq__", [](const Parameters& a, const Parameters& b) { return Repr(a) == Repr(b); })
        .def("__repr__", &Repr)
        .def(
            "keys",
            [](const Parameters&) {
                std::vector<std::string> keys;
                for (const std::string_view key : RegistryKeys()) {
                    keys.emplace_back(key);
                }
                return keys;
            },
            "Every key, in the order of dravo2-sweep --help.")
        .def(
            "to_dict",
            [](const Parameters& p) {
                py::dict d;
                for (const std::string_view key : RegistryKeys()) {
                    d[py::str(std::string(key))] = p.Get(key);
                }
                return d;
            },
            "Every key with its value.")
        .def(
            "text", [](const Parameters& p, const std::string& key) { return p.Text(key); },
            "The value as the KEY=VALUE word gives it.")
        .def("describe", &Describe, py::arg("key"),
             "A dict of the key's unit, meaning, default (as text), value, choices (or None) and default "
             "fit bounds around the value (or None for a setting that is not fitted).")
        .def(
            "copy", [](const Parameters& p) { return p; }, "An independent copy.")
        .def("__copy__", [](const Parameters& p) { return p; })
        .def("__deepcopy__", [](const Parameters& p, const py::object&) { return p; })
        .def_static(
            "from_file",
            [](const py::object& path) {
                const std::string text = PathText(path);
                return ParametersFromText(ReadWholeFile(text), text);
            },
            py::arg("path"),
            "The defaults with the KEY=VALUE words of a file (as dravo2-fit and the window write them) set; # "
            "begins a comment, mode= (the window's display) is passed over.")
        .def(
            "to_file",
            [](const Parameters& p, const py::object& pathObject) {
                const std::string path = PathText(pathObject);
                std::ofstream file(path, std::ios::binary);
                for (std::size_t i = 0; i < p.Texts.size(); ++i) {
                    file << Parameters::Entry(i).Key << "=" << p.Texts[i] << "\n";
                }
                if (!file.flush()) {
                    throw InputOutputError(path + ": cannot be written");
                }
            },
            py::arg("path"), "Writes every key as a KEY=VALUE line, for dravo2-sweep $(cat FILE).")
        .def(py::pickle([](const Parameters& p) { return p.Texts; },
                        [](const std::vector<std::string>& texts) {
                            Parameters p;
                            if (texts.size() != p.Texts.size()) {
                                throw ProgramError("A parameter set of another version of the module");
                            }
                            for (std::size_t i = 0; i < texts.size(); ++i) {
                                p.SetText(i, texts[i]);
                            }
                            return p;
                        }));

    py::class_<StopFlag>(m, "StopFlag", "Stops the loops it is given to (run_loop's stop) once set, from any thread.")
        .def(py::init<>())
        .def(
            "set", [](StopFlag& f) { f.Flag->store(true); }, "Ends the loops before their next step.")
        .def("clear", [](StopFlag& f) { f.Flag->store(false); })
        .def("is_set", [](const StopFlag& f) { return f.Flag->load(); });

    py::class_<Loop>(m, "LoopResult",
                     R"(The rows of a loop, each observable a read-only numpy array viewing the loop's own memory.

field (A/m), projection (T, along x or y), theta (rows x 4, rad, 0 for an absent layer),
magnetoresistance (as DR gives it), resonance (Hz of layer 1, -1 where there is none), energy
(J/m^2 after the relaxation), iterations (of each step's relaxation), branch (from 1 as in the
CSV table, a new one where the field turns).)")
        .def_property_readonly("field", [](const py::object& s) { return ColumnView(s, Observable::Field); })
        .def_property_readonly("projection", [](const py::object& s) { return ColumnView(s, Observable::Projection); })
        .def_property_readonly("theta", [](const py::object& s) { return BlockView(s, Observable::Theta1, 4); })
        .def_property_readonly("magnetoresistance",
                               [](const py::object& s) { return ColumnView(s, Observable::Magnetoresistance); })
        .def_property_readonly("resonance",
                               [](const py::object& s) { return ColumnView(s, Observable::ResonanceFrequency); })
        .def_property_readonly("energy", [](const py::object& s) { return ColumnView(s, Observable::Energy); })
        .def_property_readonly("iterations", [](const py::object& s) { return ColumnView(s, Observable::Iterations); })
        .def_property_readonly("branch",
                               [](const py::object& s) {
                                   const Loop& loop = s.cast<const Loop&>();
                                   return ReadOnly(py::array_t<std::int32_t>(
                                       {static_cast<py::ssize_t>(loop.Rows->Branch.size())},
                                       {static_cast<py::ssize_t>(sizeof(std::int32_t))}, loop.Rows->Branch.data(), s));
                               })
        .def_property_readonly(
            "modes",
            [](const py::object& s) {
                const Loop& loop = s.cast<const Loop&>();
                const auto rows = static_cast<py::ssize_t>(loop.Rows->Modes.size());
                return ReadOnly(py::array_t<double>(
                    {rows, static_cast<py::ssize_t>(kLayers)},
                    {static_cast<py::ssize_t>(sizeof(ModeRow)), static_cast<py::ssize_t>(sizeof(double))},
                    rows > 0 ? loop.Rows->Modes.front().data() : nullptr, s));
            },
            "Every resonance mode of the stack at each row (rows x 4, Hz, ascending, NaN where a mode does not "
            "exist), with run_loop(..., modes=True); else 0 x 4.")
        .def(
            "resonance_fields",
            [](const Loop& loop, double frequency) {
                if (loop.Rows->Modes.empty()) {
                    throw ProgramError("The loop has no resonance modes: run it with modes=True");
                }
                if (!(frequency > 0) || !std::isfinite(frequency)) {
                    throw ProgramError("The frequency must be a positive number of Hz");
                }
                const auto rows = static_cast<std::size_t>(loop.Rows->Rows());
                const auto crossings = ResonanceFields({loop.Rows->Column(Observable::Field), rows}, loop.Rows->Modes,
                                                       {loop.Rows->Branch.data(), rows}, frequency);
                py::list found;
                for (const ResonanceField& crossing : crossings) {
                    found.append(py::make_tuple(crossing.Branch, crossing.Mode, crossing.H));
                }
                return found;
            },
            py::arg("frequency"),
            "The fields (A/m) where a mode passes frequency (Hz), interpolated between rows, as "
            "(branch, mode, field) tuples ordered by branch, mode and along the branch; mode 1 is the lowest. "
            "Needs modes=True.")
        .def(
            "to_table", [](const py::object& s) { return BlockView(s, Observable::Field, 8); },
            "The eight columns of the result file as a rows x 8 view: H (A/m), M (T), theta1..theta4 "
            "(rad), dR, f (Hz).")
        .def("__len__", [](const Loop& loop) { return loop.Rows->Rows(); })
        .def_property_readonly(
            "total_iterations", [](const Loop& loop) { return loop.Rows->Iterations; },
            "The relaxation iterations of every step, summed.")
        .def_property_readonly(
            "end", [](const Loop& loop) { return EndName(loop.Rows->End); },
            "'completed', 'stopped' or 'floating-point error'.")
        .def_property_readonly(
            "error", [](const Loop& loop) { return loop.Rows->Error; }, "The message of a failed step, else ''.")
        .def("__repr__", [](const Loop& loop) {
            const auto branches = loop.Rows->Branch.empty() ? 0 : loop.Rows->Branch.back();
            return "<dravo2.LoopResult " + std::to_string(loop.Rows->Rows()) + " rows, " + std::to_string(branches) +
                   " branches, " + EndName(loop.Rows->End) + ">";
        });

    m.def("run_loop", &RunLoopFor, py::arg("p"), py::kw_only(), py::arg("start") = py::none(),
          py::arg("step") = py::none(), py::arg("steps") = py::none(), py::arg("reverse") = py::none(),
          py::arg("solver") = "newton", py::arg("seed") = py::none(), py::arg("initial") = "saturated",
          py::arg("fields") = py::none(), py::arg("along") = "x", py::arg("stop") = std::optional<StopFlag>{},
          py::arg("modes") = false,
          R"(Runs a hysteresis loop of the parameter set p and returns its LoopResult.

The sweep: from start (A/m; p.start in kA/m unless given) in steps of step (A/m) for steps
steps, the first row one step past start, then reverse more branches each sweeping back as
the window's Reverse does (True: one, as dravo2-sweep --reverse; an int: that many; False: none).
Or fields: any sequence of fields (A/m), one row each, a new branch where the direction turns.
solver: "newton" (default) or "descent"; None takes p.solver. seed: the noise generator's start
state (default 0, a fresh program's). initial: "saturated" (every layer along the start of the
first branch, as the window's Start presets "M vs Hx") or four angles in rad. along: "x" or "y",
the direction of the projection (y as "M vs Hy"). stop: a dravo2.StopFlag; once set (from any
thread), the loop ends before its next step with the rows so far (end is then "stopped").
modes: also compute every resonance mode of the coupled stack at each row (result.modes,
result.resonance_fields(f)); gamma is p.gamma.
The interpreter lock is released while the loop runs; Ctrl-C raises KeyboardInterrupt. A step
that fails raises dravo2.FloatingPointError with the rows before it in its `result`.)");

    py::class_<Curve>(m, "Curve", R"(A measured curve: field (A/m), moment (in the file's unit) and sigma, its standard
uncertainties (None where not given), as read-only numpy arrays; moment_unit in A m^2 (1e-3 for
emu, 0 where unknown); report says what the import took.)")
        .def(py::init(&CurveOf), py::arg("field"), py::arg("moment"), py::arg("sigma") = py::none(),
             py::arg("moment_unit") = 0.0, "A curve from arrays: field in A/m, moment, optional sigma.")
        .def_property_readonly("field", [](const py::object& s) { return VectorView(s, s.cast<const Curve&>().Field); })
        .def_property_readonly("moment",
                               [](const py::object& s) { return VectorView(s, s.cast<const Curve&>().Moment); })
        .def_property_readonly("sigma",
                               [](const py::object& s) -> py::object {
                                   const Curve& c = s.cast<const Curve&>();
                                   if (c.Sigma.empty()) {
                                       return py::none();
                                   }
                                   return VectorView(s, c.Sigma);
                               })
        .def_readonly("moment_unit", &Curve::MomentUnit)
        .def_readonly("report", &Curve::Report)
        .def("__len__", [](const Curve& c) { return c.Field.size(); })
        .def("__repr__", [](const Curve& c) {
            return "<dravo2.Curve " + std::to_string(c.Field.size()) + " points" +
                   (c.Sigma.empty() ? "" : " with uncertainties") + ">";
        });

    m.def("import_curve", &ImportCurve, py::arg("path"), py::kw_only(), py::arg("columns") = py::none(),
          py::arg("field_unit") = py::none(), py::arg("sigma") = py::none(), py::arg("rows") = "thin",
          py::arg("moment_unit") = py::none(),
          R"(Reads a measured curve as the window's import does: delimited text, a magnetometer export or
a result file. columns: (FIELD, MOMENT) or "FIELD,MOMENT", by number from 1 or by name (default:
picked by name). field_unit: "A/m", "kA/m", "Oe", "mT" or "T" (default: the unit the file
states, else A/m). sigma: the moment's uncertainty column. rows: "thin" or "first" for more
than 4096 rows. moment_unit: "emu" or "Am2" where the file does not state it.)");

    py::class_<Misfit>(m, "Misfit", R"(The comparison of a measured curve with a loop: the measured moment modelled as
scale * m + slope * H + offset, m the projection over its saturation.)")
        .def_property_readonly("valid", [](const Misfit& f) { return f.Result.Valid; })
        .def_property_readonly(
            "reason", [](const Misfit& f) { return f.Result.Reason; }, "Why there is no misfit, when not valid.")
        .def_property_readonly(
            "misfit", [](const Misfit& f) { return f.Result.Valid ? f.Result.Misfit : std::nan(""); },
            "The weighted RMS residual over half the measured peak-to-peak; NaN where there is none.")
        .def_property_readonly("scale", [](const Misfit& f) { return f.Result.Scale; })
        .def_property_readonly(
            "slope", [](const Misfit& f) { return f.Result.Slope; }, "Moment per A/m.")
        .def_property_readonly("offset", [](const Misfit& f) { return f.Result.Offset; })
        .def_property_readonly("scale_fixed", [](const Misfit& f) { return f.Result.ScaleFixed; })
        .def_property_readonly("half_range", [](const Misfit& f) { return f.Result.HalfRange; })
        .def_property_readonly(
            "chi_square",
            [](const Misfit& f) {
                return f.Result.HasChiSquare ? py::object(py::float_(f.Result.ChiSquare)) : py::object(py::none());
            },
            "With uncertainties, sum over the covered points of (residual / sigma)^2; else None.")
        .def_property_readonly("degrees_of_freedom", [](const Misfit& f) { return DegreesOfFreedom(f.Result, 0); })
        .def_property_readonly("degenerate", [](const Misfit& f) { return DegenerateText(f.Result); })
        .def_property_readonly("covered", [](const Misfit& f) { return f.Result.Covered; })
        .def_property_readonly("total", [](const Misfit& f) { return f.Result.Total; })
        .def_property_readonly(
            "residuals", [](const Misfit& f) { return py::array_t<double>(py::cast(f.Residuals)); },
            "One weighted residual a comparison, scaled so that sum(residuals**2) == misfit**2.")
        .def_property_readonly(
            "points", [](const Misfit& f) { return py::array_t<std::int32_t>(py::cast(f.Result.Points)); },
            "The measured point (from 0) of each residual.")
        .def("__float__", [](const Misfit& f) { return f.Result.Valid ? f.Result.Misfit : std::nan(""); })
        .def("__repr__", [](const Misfit& f) {
            if (!f.Result.Valid) {
                return "<dravo2.Misfit none (" + f.Result.Reason + ")>";
            }
            return "<dravo2.Misfit " + fit::ShortestText(f.Result.Misfit) + ", scale " +
                   fit::ShortestText(f.Result.Scale) + ", points " + std::to_string(f.Result.Covered) + "/" +
                   std::to_string(f.Result.Total) + ">";
        });

    m.def("misfit", &MisfitOf, py::arg("result"), py::arg("curve"), py::kw_only(), py::arg("background") = py::none(),
          py::arg("area") = py::none(),
          R"(Compares a measured curve with a loop, as dravo2-sweep --compare does. background: None,
"slope", "offset" or "both", fitted besides the scale. area: the sample's area (m^2, or a text
as "0.2947cm2"), which fixes the scale to the computed saturated moment.)");

    py::class_<Fit>(m, "FitResult", "What dravo2.fit found, as dravo2-fit reports it.")
        .def_property_readonly(
            "values",
            [](const Fit& f) {
                py::dict d;
                for (std::size_t i = 0; i < f.Names.size() && i < f.Outcome.Values.size(); ++i) {
                    d[py::str(f.Names[i])] = f.Outcome.Values[i];
                }
                return d;
            },
            "The fitted values of the free parameters, in their units.")
        .def_property_readonly(
            "errors",
            [](const Fit& f) {
                py::dict d;
                for (const fit::FittedParameter& q : f.Outcome.Summary.Parameters) {
                    d[py::str(q.Name)] =
                        q.Error.Determined ? py::object(py::float_(q.Error.Value)) : py::object(py::none());
                }
                return d;
            },
            "Standard errors, None where the data do not determine one.")
        .def_property_readonly(
            "at_bound",
            [](const Fit& f) {
                py::dict d;
                for (const fit::FittedParameter& q : f.Outcome.Summary.Parameters) {
                    d[py::str(q.Name)] = q.AtBound;
                }
                return d;
            },
            "Whether each value lies within 0.1 % of a bound.")
        .def_property_readonly(
            "correlation",
            [](const Fit& f) {
                const auto& c = f.Outcome.Summary.Correlation;
                py::array_t<double> a({static_cast<py::ssize_t>(c.size()), static_cast<py::ssize_t>(c.size())});
                auto view = a.mutable_unchecked<2>();
                for (std::size_t i = 0; i < c.size(); ++i) {
                    for (std::size_t j = 0; j < c.size(); ++j) {
                        view(static_cast<py::ssize_t>(i), static_cast<py::ssize_t>(j)) =
                            j < c[i].size() ? c[i][j] : std::nan("");
                    }
                }
                return a;
            },
            "Correlations of the free parameters in their order; NaN without a standard error.")
        .def_property_readonly("misfit_before", [](const Fit& f) { return Optional(f.Outcome.Summary.MisfitBefore); })
        .def_property_readonly("misfit", [](const Fit& f) { return Optional(f.Outcome.Summary.MisfitAfter); })
        .def_property_readonly("chi_square", [](const Fit& f) { return Optional(f.Outcome.Summary.ChiSquare); })
        .def_property_readonly("degrees_of_freedom", [](const Fit& f) { return f.Outcome.Summary.DegreesOfFreedom; })
        .def_property_readonly("scale", [](const Fit& f) { return f.Outcome.Summary.Scale; })
        .def_property_readonly("slope", [](const Fit& f) { return f.Outcome.Summary.Slope; })
        .def_property_readonly("offset", [](const Fit& f) { return f.Outcome.Summary.Offset; })
        .def_property_readonly("degenerate", [](const Fit& f) { return f.Outcome.Summary.Degenerate; })
        .def_property_readonly("evaluations", [](const Fit& f) { return f.Outcome.Summary.Evaluations; })
        .def_property_readonly("seconds", [](const Fit& f) { return f.Outcome.Summary.Seconds; })
        .def_property_readonly(
            "stopped", [](const Fit& f) { return f.Outcome.Summary.Stopped; }, "Why the search stopped.")
        .def_property_readonly(
            "interrupted", [](const Fit& f) { return f.Interrupted; },
            "Ctrl-C stopped the fit; the values are the best so far.")
        .def_property_readonly(
            "not_compared", [](const Fit& f) { return f.Outcome.Summary.NotCompared; },
            "Stopped before the best values were compared again: no errors, scale or background.")
        .def_property_readonly(
            "no_misfit", [](const Fit& f) { return f.Outcome.NoMisfit; },
            "Why the fitted values give no misfit, else ''.")
        .def_readonly("parameters", &Fit::Fitted, "The parameter set with the fitted values.")
        .def_readonly("loop", &Fit::BestLoop, "The loop of the fitted values along the measured branches.")
        .def_property_readonly(
            "summary", [](const Fit& f) { return fit::SummaryText(f.Outcome.Summary); }, "The lines dravo2-fit prints.")
        .def("__repr__", [](const Fit& f) { return fit::SummaryText(f.Outcome.Summary); });

    m.def("scan", &RunScan, py::arg("p"), py::kw_only(), py::arg("grid"), py::arg("curve") = std::optional<Curve>{},
          py::arg("background") = py::none(), py::arg("area") = py::none(), py::arg("threads") = 0u,
          py::arg("along") = "x", py::arg("initial") = "saturated", py::arg("solver") = "newton",
          R"(Runs the loop (Start and one Reverse, as dravo2-scan) at every point of a grid over p and
returns the scan's table as a structured numpy array: one field per scanned key, then Hc_down,
Hc_up, H_eb, Hc (A/m), Mr_down, Mr_up (over the saturation), H_sat (A/m), jumps, misfit (NaN where
a loop has none, or without a curve) and iterations. grid: {key: (low, high, count)} or
{key: "low:high:count"}, the last key varying fastest. curve, background and area compare every
loop with a measured curve as dravo2.misfit does. threads: loops at once (0: every core).
along: "x" or "y"; initial: "saturated" or "zero"; solver: "newton" (default) or "descent", None
for p.solver. The interpreter lock is released; Ctrl-C
stops the scan and the points done so far are returned (the others NaN, with a RuntimeWarning).)");

    m.def("fit", &RunFit, py::arg("curve"), py::arg("p"), py::kw_only(), py::arg("free"),
          py::arg("bounds") = std::map<std::string, std::pair<double, double>>{}, py::arg("background") = py::none(),
          py::arg("area") = py::none(), py::arg("evals") = 2000, py::arg("time") = py::none(), py::arg("threads") = 0,
          py::arg("seed") = 1, py::arg("solver") = "newton", py::arg("step") = py::none(),
          R"(Fits the free parameters of p to the measured curve, as dravo2-fit does: the loop simulated
along the measured branches, compared as dravo2.misfit compares it. free: names among M1..M4
t1..t4 K1..K4 J1..J3 Jbq1 Jbq2 bias axis1..axis4 field_angle; bounds: {name: (low, high)}
(default: around each value). evals: budget of each search; time: seconds of wall time;
threads: searches at once (0: every core); seed of the first search; solver: "newton" or
"descent"; step: the simulated field step in A/m (default: the median measured spacing).
The interpreter lock is released; Ctrl-C stops the search and the best values so far are
returned (interrupted is then True).)");
}
