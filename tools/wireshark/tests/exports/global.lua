-- Reaches for a global: the chunk sees none.
os.remove("dict.lua")
return { format = 1, messages = {}, tags = {}, metas = {} }
