return {
  format = 1,
  messages = {
    { id = 16, name = "telemetry", required = { 1 }, optional = {}, closed = true, deprecated = false },
  },
  tags = { { id = 1, name = "device", type = 2, deprecated = false } },
  metas = {},
}
