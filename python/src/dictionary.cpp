#include "dictionary.h"

#include "arguments.h"
#include "errors.h"
#include "message.h"
#include "values.h"

#include <VFormat.h>
#include <format/Text.h>

#include <stdexcept>

namespace vmsgpy {

namespace {

PyTypeObject* gMessageDefType = nullptr;
PyTypeObject* gTagDefType = nullptr;
PyTypeObject* gMetaDefType = nullptr;

// The regrouped copy of a message (vmsg::structure), with the dictionary
// it was made by, for names.
struct Structure {
    std::unique_ptr<CarrowMessage> view;
    py::object dictionary;

    const vmsg::Dictionary& tool() const { return dictionary.cast<Dictionary&>().tool(); }
};

// One object of a Structure; holds the Structure, which owns it.
struct StructuredObject {
    py::object owner;
    const CarrowObject* object;

    const Structure& structure() const { return owner.cast<Structure&>(); }
};

std::unique_ptr<Dictionary> parse(std::string_view text, const std::string& source)
{
    try {
        return std::make_unique<Dictionary>(vmsg::Dictionary::parse(text, source), source);
    } catch (const vmsg::DictionaryError& error) {
        // A file that is not JSON is a dictionary with one problem, as for
        // `vmsg dict check`.
        raiseDictionaryError(source, error.lines());
    }
}

// Dictionary.load(path): the file is read by Python, so that a missing or
// unreadable file is the usual OSError.
std::unique_ptr<Dictionary> load(py::handle path)
{
    const py::object name = py::module_::import("os").attr("fsdecode")(path);
    const py::bytes content = py::module_::import("pathlib").attr("Path")(name).attr("read_bytes")();
    const std::string_view text(PyBytes_AS_STRING(content.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(content.ptr())));
    return parse(text, utf8(name));
}

std::unique_ptr<Dictionary> fromJson(py::handle text, py::handle source)
{
    if (!PyUnicode_Check(source.ptr()))
        typeError("Dictionary.from_json(): source", "a str", source);
    if (PyUnicode_Check(text.ptr()))
        return parse(utf8(text), utf8(source));
    if (!PyObject_CheckBuffer(text.ptr()))
        typeError("Dictionary.from_json(): text", "a str or bytes", text);
    const Bytes bytes(text, "Dictionary.from_json(): text");
    return parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), utf8(source));
}

py::object messageDef(const vmsg::Dictionary::Message& entry)
{
    py::list required;
    for (unsigned char id : entry.required)
        required.append(py::int_(id));
    return makeNamedTuple(gMessageDefType, {py::int_(entry.id), textOf(entry.name), py::tuple(required)});
}

py::object tagDef(const vmsg::Dictionary::Tag& entry)
{
    return makeNamedTuple(gTagDefType, {py::int_(entry.id), textOf(entry.name), typeNameOf(entry.type)});
}

py::object metaDef(const vmsg::Dictionary::Meta& entry)
{
    return makeNamedTuple(gMetaDefType,
                          {py::int_(entry.id), textOf(entry.name), typeNameOf(entry.type), textOf(entry.object)});
}

template <typename Entry, typename Make>
py::list entryList(const std::vector<Entry>& entries, Make make)
{
    py::list out;
    for (const Entry& entry : entries)
        out.append(make(entry));
    return out;
}

// The entry with the id or name @p key, first match, as the library looks
// up ids; None when there is none.
template <typename Entry, typename Make>
py::object findEntry(const std::vector<Entry>& entries, py::handle key, const char* where, Make make)
{
    std::optional<unsigned> id;
    std::string name;
    if (PyUnicode_Check(key.ptr()))
        name = utf8(key);
    else
        id = unsignedArgument(key, 0, 255, where);
    for (const Entry& entry : entries) {
        if (id ? entry.id == *id : entry.name == name)
            return make(entry);
    }
    return py::none();
}

py::list missingTags(py::handle dictionary, py::handle message)
{
    const Dictionary& dict = dictionaryArgument(dictionary, "missing_tags(): dictionary");
    const VMsg& msg = messageArgument(message, "missing_tags(): message").msg();
    const CarrowMsgDef* def = dict.lookup().definition(msg.mId);
    if (!def) {
        raiseIfAny(dict.lookup().check(msg), &dict.tool());
        throw std::logic_error("missing_tags(): no definition, yet the id passed the check");
    }
    py::list out;
    for (unsigned char id : vmsg::missingTags(*def, msg))
        out.append(py::int_(id));
    return out;
}

Structure structure(py::handle dictionary, py::handle message)
{
    const Dictionary& dict = dictionaryArgument(dictionary, "structure(): dictionary");
    const VMsg& msg = messageArgument(message, "structure(): message").msg();
    vmsg::Structure view = vmsg::structure(dict.def(), msg);
    raiseIfAny(view.errors, &dict.tool());
    return {std::move(view.message), py::reinterpret_borrow<py::object>(dictionary)};
}

std::string plural(std::size_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string tagLines(const VTag& tag, const vmsg::Dictionary& dict, const std::string& indent)
{
    return vmsg::format(tag, &dict, indent);
}

// "object Sensor, opened by tag 32 sensor u8 0 (0x00)" and its tags, as
// the tool's structured view shows them.
std::string objectLines(const CarrowObject& object, const vmsg::Dictionary& dict, const std::string& indent)
{
    const vmsg::Dictionary::Meta* meta = dict.meta(object.mId);
    std::string out = indent + "object " + (meta ? meta->object : std::to_string(object.mId)) + ", opened by ";
    out += object.mMetaTag ? tagLines(*object.mMetaTag, dict, "") : "no meta tag\n";
    for (const VTag* tag : object.mTags)
        out += tagLines(*tag, dict, indent + "  ");
    return out;
}

std::string structureLines(const Structure& structure)
{
    const CarrowMessage& view = *structure.view;
    const vmsg::Dictionary& dict = structure.tool();
    std::string out = "structured message " + vmsg::detail::hexNumber(view.mId, 2) + ": " +
                      plural(view.mTags.size(), "plain tag") + ", " + plural(view.mObjects.size(), "object") + "\n";
    for (const VTag* tag : view.mTags)
        out += tagLines(*tag, dict, "  ");
    for (const CarrowObject* object : view.mObjects)
        out += objectLines(*object, dict, "  ");
    out.pop_back();
    return out;
}

void defineStructure(py::module_& module)
{
    py::class_<StructuredObject>(module, "StructuredObject",
                                 "An object of a structured view: a meta tag and the tags that followed it.")
        .def_property_readonly(
            "id", [](const StructuredObject& o) { return o.object->mId; }, "The meta tag's id.")
        .def_property_readonly(
            "name",
            [](const StructuredObject& o) -> py::object {
                const vmsg::Dictionary::Meta* meta = o.structure().tool().meta(o.object->mId);
                return meta ? py::object(textOf(meta->object)) : py::object(py::none());
            },
            "The object's name from the dictionary's meta entry, or None.")
        .def_property_readonly(
            "meta",
            [](const StructuredObject& o) {
                return o.object->mMetaTag ? tagObject(*o.object->mMetaTag) : py::object(py::none());
            },
            "The meta tag that opened the object (vmsg.Tag).")
        .def_property_readonly(
            "tags", [](const StructuredObject& o) { return tagList(o.object->mTags); },
            "The member tags, a list of vmsg.Tag.")
        .def("__repr__", [](const StructuredObject& o) {
            std::string text = objectLines(*o.object, o.structure().tool(), "");
            text.pop_back();
            return textOf(text);
        });
    py::class_<Structure>(module, "Structure",
                          "A message regrouped by a dictionary (vmsg::structure): plain tags, then one object per "
                          "meta tag. It holds copies of the tags.")
        .def_property_readonly(
            "id", [](const Structure& s) { return s.view->mId; }, "The message id.")
        .def_property_readonly(
            "tags", [](const Structure& s) { return tagList(s.view->mTags); },
            "The tags before the first meta tag, a list of vmsg.Tag.")
        .def_property_readonly(
            "objects",
            [](const py::object& self) {
                py::list out;
                for (const CarrowObject* object : self.cast<Structure&>().view->mObjects)
                    out.append(py::cast(StructuredObject{self, object}));
                return out;
            },
            "The objects in message order, a list of vmsg.StructuredObject.")
        .def("__repr__", [](const Structure& s) { return textOf(structureLines(s)); });
    module.def("structure", &structure, py::arg("dictionary"), py::arg("message"),
               "The structured view of the message by the dictionary's meta tags (vmsg::structure). "
               "TagCountMismatch when the message holds more tags than its count says (over 65535).");
}

void defineDictionaryClass(py::module_& module)
{
    py::class_<Dictionary>(module, "Dictionary",
                           "A message dictionary from a JSON file, checked by the same rules as `vmsg dict check` "
                           "(docs/dictionary.md). DictionaryError lists every problem.")
        .def_static("load", &load, py::arg("path"), "Reads and checks the dictionary file at path.")
        .def_static("from_json", &fromJson, py::arg("text"), py::arg("source") = "<string>",
                    "Checks a dictionary given as JSON text (str or bytes); source names it in problems.")
        .def_property_readonly(
            "source", [](const Dictionary& d) { return textOf(d.source()); }, "The file name.")
        .def_property_readonly(
            "messages", [](const Dictionary& d) { return entryList(d.tool().messages(), messageDef); },
            "The message entries, a list of vmsg.MessageDef (id, name, required).")
        .def_property_readonly(
            "tags", [](const Dictionary& d) { return entryList(d.tool().tags(), tagDef); },
            "The tag entries, a list of vmsg.TagDef (id, name, type).")
        .def_property_readonly(
            "meta", [](const Dictionary& d) { return entryList(d.tool().metas(), metaDef); },
            "The meta entries, a list of vmsg.MetaDef (id, name, type, object).")
        .def(
            "message",
            [](const Dictionary& d, py::handle key) {
                return findEntry(d.tool().messages(), key, "Dictionary.message(): key", messageDef);
            },
            py::arg("key"), "The message entry with this id or name, or None.")
        .def(
            "tag",
            [](const Dictionary& d, py::handle key) {
                return findEntry(d.tool().tags(), key, "Dictionary.tag(): key", tagDef);
            },
            py::arg("key"), "The tag entry with this id or name, or None.")
        .def("__repr__", [](const Dictionary& d) {
            const CarrowDictDef& def = d.def();
            return textOf("<vmsg.Dictionary " + d.source() + ": " + std::to_string(def.mMsgDefCount) + " messages, " +
                          std::to_string(def.mTagDefCount) + " tags, " + std::to_string(def.mMetaDefCount) +
                          " meta tags>");
        });
}

} // namespace

Dictionary::Dictionary(vmsg::Dictionary dict, std::string source)
    : mDict(std::move(dict)), mSource(std::move(source)), mLookup(mDict.def())
{
}

Dictionary& dictionaryArgument(py::handle value, const Where& where)
{
    if (!py::isinstance<Dictionary>(value))
        typeError(where, "a vmsg.Dictionary", value);
    return value.cast<Dictionary&>();
}

void defineDictionary(py::module_& module)
{
    gMessageDefType = namedTuple(module, "vmsg.MessageDef", "A message entry of a dictionary.",
                                 {{"id", "The message id."},
                                  {"name", "Its name."},
                                  {"required", "The required tag ids, in order (a tuple)."}});
    gTagDefType = namedTuple(module, "vmsg.TagDef", "A tag entry of a dictionary.",
                             {{"id", "The tag id."}, {"name", "Its name."}, {"type", "Its type's short name."}});
    gMetaDefType = namedTuple(module, "vmsg.MetaDef", "A meta entry of a dictionary: a tag that opens an object.",
                              {{"id", "The tag id."},
                               {"name", "The tag's name."},
                               {"type", "The tag's type."},
                               {"object", "The name of the object it opens."}});
    defineDictionaryClass(module);
    defineStructure(module);
    module.def("missing_tags", &missingTags, py::arg("dictionary"), py::arg("message"),
               "The required tag ids of the message's definition that it lacks, in the definition's order "
               "(vmsg::missingTags). UnknownMessage when the dictionary does not define its id.");
}

} // namespace vmsgpy
