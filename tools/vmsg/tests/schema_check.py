#!/usr/bin/env python3
"""The JSON Schema of the dictionary format against the shared corpus.

Every dictionary the tool accepts must satisfy the schema, and the schema
must refuse every refused dictionary except those whose fault only the
tool can see (uniqueness, references between lists, a key given twice,
which a JSON reader folds away, and syntax). Usage:

    schema_check.py SCHEMA CORPUS_DIR [GOOD_FILE...]
"""
import json
import pathlib
import sys

import jsonschema

# Refused for a rule a schema cannot express.
TOOL_ONLY = {
    "duplicate-tag-id", "duplicate-tag-name", "message-duplicate-id", "message-duplicate-name",
    "meta-duplicate-id", "meta-name-differs", "meta-not-a-tag", "meta-type-differs", "repeated-key",
    "required-undefined-id", "required-unknown-name", "syntax-error",
    "optional-also-required", "optional-unknown-name", "member-of-two-objects",
}


def main():
    schema_path, corpus = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    schema = json.loads(schema_path.read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    failures = 0
    good = sorted((corpus / "good").glob("*.json")) + [pathlib.Path(p) for p in sys.argv[3:]]
    for path in good:
        errors = list(validator.iter_errors(json.loads(path.read_text())))
        if errors:
            failures += 1
            print(f"{path.name}: accepted by the tool but refused by the schema: {errors[0].message}")
    bad = sorted((corpus / "bad").glob("*.json"))
    for path in bad:
        if path.stem in TOOL_ONLY:
            continue
        if validator.is_valid(json.loads(path.read_text())):
            failures += 1
            print(f"{path.name}: refused by the tool but accepted by the schema")
    print(f"{len(good)} good and {len(bad) - len(TOOL_ONLY)} schema-refusable bad dictionaries checked, "
          f"{failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
