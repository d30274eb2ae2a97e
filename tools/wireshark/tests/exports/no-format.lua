-- Written by hand, without the format of an export.
return { messages = {}, tags = {}, metas = {} }
