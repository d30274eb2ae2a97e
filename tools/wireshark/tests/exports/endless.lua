-- Never returns.
while true do end
