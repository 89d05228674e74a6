defmodule Hello do
  def greeting, do: "Hello from a Mix project"
end
