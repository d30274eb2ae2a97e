this is not Lua at all
