return {
  format = 1,
  messages = {},
  tags = {
    { id = 1, name = "device", type = 2, deprecated = false },
    { id = 300, name = "reading", type = 6, deprecated = false },
  },
  metas = {},
}
