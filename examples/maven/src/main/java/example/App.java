package example;

public class App {
    public static void main(String[] args) {
        System.out.println("Hello from a Maven project");
    }
}
